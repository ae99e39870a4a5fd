#!/usr/bin/env bash
# Records the library's current ABI as the baseline that CI compares against.
# Run it after a deliberate change of the public interface, and commit abi/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target VdlLabelAPI
abidw --no-corpus-path --headers-dir include --out-file abi/libVdlLabelAPI.abi build/libVdlLabelAPI.so.1
echo "abi/libVdlLabelAPI.abi updated"
