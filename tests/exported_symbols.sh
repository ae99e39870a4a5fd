#!/usr/bin/env bash
# The shared library exports exactly the names its public header declares:
# no internal helper leaks out, and no declared name is missing.
set -euo pipefail
library=$1
header=$2

declared=$(gcc -fpreprocessed -dD -E -P -x c "$header" 2>/dev/null | grep -v "^#" | tr '\n' ' ' | sed 's/;/;\n/g' | grep -E '\bVDL_API\b' |
  sed -E 's/\(.*//; s/\[.*//; s/;.*//' | grep -oE '[A-Za-z_][A-Za-z0-9_]*[[:space:]]*$' | tr -d ' ' | sort -u)
exported=$(nm -D --defined-only "$library" | awk '{print $3}' | sort -u)

if [ "$declared" != "$exported" ]; then
  echo "declared in the header but not exported:"; comm -23 <(echo "$declared") <(echo "$exported")
  echo "exported but not declared in the header:"; comm -13 <(echo "$declared") <(echo "$exported")
  echo "0 passed, 1 failed"
  exit 1
fi
echo "$(echo "$exported" | wc -l) names exported, all declared"
