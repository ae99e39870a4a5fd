#!/usr/bin/env bash
# Runs the binding's tests against installed copies, never the source folder:
# the one `cmake --install` puts under a prefix, and the one pip installs
# (offline, with the setuptools at hand) into a virtual environment.
set -euo pipefail
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd) python=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tests="$source/bindings/python/tests"

cmake --install "$build" --prefix "$work/prefix" >/dev/null
export LD_LIBRARY_PATH
LD_LIBRARY_PATH=$(dirname "$(find "$work/prefix" -name libVdlLabelAPI.so.1)")
export VDL_HEADER="$work/prefix/include/VdlLabelAPI.h"
site=$(dirname "$(dirname "$(find "$work/prefix" -name py.typed)")")
(cd "$work" && PYTHONPATH="$site" "$python" -m unittest discover -v -s "$tests")

# pip builds in the folder it is given: a copy, with the headers beside it as
# in the repository. Offline, so the build uses Debian's setuptools and wheel.
mkdir -p "$work/src/bindings"
cp -r "$source/bindings/python" "$work/src/bindings/"
cp -r "$source/include" "$work/src/"
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
"$work/venv/bin/python" -m pip install -q --no-index --no-build-isolation "$work/src/bindings/python"
(cd "$work" && PYTHONPATH="$tests" "$work/venv/bin/python" -m unittest -v test_vdllabel.Installed)
