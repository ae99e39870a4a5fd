#!/usr/bin/env bash
# Compares the library's ABI with the recorded baseline. Additions pass;
# anything else (a removed or changed function or variable, a changed type)
# fails.
set -euo pipefail
baseline=$1
library=$2
set +e
report=$(abidiff --no-added-syms --hd2 "$(dirname "$0")/../include" "$baseline" "$library")
status=$?
set -e
# Added functions and variables are left out of the report (--no-added-syms),
# so any other status is a change that an application built against the
# baseline would notice: removed symbols (8), changed types or signatures (4),
# or a failure of the tool itself (1, 2).
if (( status != 0 )); then
  echo "$report"
  echo "The library's ABI is incompatible with abi/libVdlLabelAPI.abi."
  echo "If the break is deliberate, raise the soname version and run scripts/update-abi-baseline.sh."
  echo "0 passed, 1 failed"
  exit 1
fi
echo "ABI compatible with the baseline"
