#!/usr/bin/env bash
# Installs the library into a temporary prefix and builds applications against
# it through pkg-config and through find_package: a C one, and a C++17 one that
# prints a label on the emulator. Then builds the Debian package and checks
# what it holds.
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d)
emulator=""
trap '[ -z "$emulator" ] || kill "$emulator"; rm -rf "$work"' EXIT
prefix="$work/prefix"

"$build/vdl-emulator" --port 0 --no-preview --log "$work/printed.log" 2>"$work/emulator.err" &
emulator=$!
for _ in $(seq 100); do grep -q listening "$work/emulator.err" && break; sleep 0.05; done
port=$(grep -o '127\.0\.0\.1:[0-9]*' "$work/emulator.err")

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libVdlLabelAPI.so.1' | head -n 1)")

echo "== pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
cc -std=c99 -Wall -Werror "$source/tests/consumer/consumer.c" $(pkg-config --cflags --libs VdlLabelAPI) \
  -Wl,-rpath,"$libdir" -o "$work/consumer-pc"
"$work/consumer-pc"
c++ -std=c++17 -Wall -Wextra -Werror -pedantic "$source/tests/consumer/consumer.cpp" \
  $(pkg-config --cflags --libs VdlLabelAPI) -Wl,-rpath,"$libdir" -o "$work/consumer-cpp-pc"
"$work/consumer-cpp-pc" "$port"

echo "== find_package"
cmake -S "$source/tests/consumer" -B "$work/consumer-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer-build" >/dev/null
"$work/consumer-build/consumer"
"$work/consumer-build/consumer_cpp" "$port"
[ "$(grep -c 'P print' "$work/printed.log")" -eq 2 ] || { echo "the emulator printed no two labels"; exit 1; }

echo "== Debian package"
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null)
deb=$(find "$work/package" -name '*.deb' | head -n 1)
contents=$(dpkg-deb -c "$deb")
for wanted in libVdlLabelAPI.so.1 include/VdlLabelAPI.h include/VdlLabelAPI.hpp vdllabel/_words.py \
              bash-completion/completions/vdl-label pkgconfig/VdlLabelAPI.pc cmake/VdlLabelAPI/VdlLabelAPIConfig.cmake \
              bin/vdl-label man1/vdl-label.1 udev/rules.d/60-veldrin-printers.rules; do
  grep -q "$wanted" <<<"$contents" || { echo "the package lacks $wanted"; echo "0 passed, 1 failed"; exit 1; }
done
echo "$(basename "$deb") holds the library, the C and C++ headers, the Python package, the pkg-config file, the CMake package, the tool with its completion and the udev rule"
