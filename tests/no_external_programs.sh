#!/usr/bin/env bash
# The shared library imports no function that starts another program or a
# shell: image conversion and everything else happen in process.
set -euo pipefail
library=$1
forbidden='^(system|popen|fork|vfork|clone|execl|execlp|execle|execv|execvp|execvpe|execve|fexecve|posix_spawn|posix_spawnp)(@.*)?$'
found=$(nm -D --undefined-only "$library" | awk '{print $2}' | grep -E "$forbidden" || true)
if [ -n "$found" ]; then
  echo "the library imports: $found"
  echo "0 passed, 1 failed"
  exit 1
fi
echo "1 passed, 0 failed"
