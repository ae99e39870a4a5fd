#!/usr/bin/env bash
# Installs the library into a temporary prefix and builds an application
# against it twice: through pkg-config and through find_package. Then builds
# the Debian package and checks what it holds.
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libVdlLabelAPI.so.1' | head -n 1)")

echo "== pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
cc -std=c99 -Wall -Werror "$source/tests/consumer/consumer.c" $(pkg-config --cflags --libs VdlLabelAPI) \
  -Wl,-rpath,"$libdir" -o "$work/consumer-pc"
"$work/consumer-pc"

echo "== find_package"
cmake -S "$source/tests/consumer" -B "$work/consumer-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer-build" >/dev/null
"$work/consumer-build/consumer"

echo "== Debian package"
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null)
deb=$(find "$work/package" -name '*.deb' | head -n 1)
contents=$(dpkg-deb -c "$deb")
for wanted in libVdlLabelAPI.so.1 include/VdlLabelAPI.h pkgconfig/VdlLabelAPI.pc cmake/VdlLabelAPI/VdlLabelAPIConfig.cmake \
              bin/vdl-label man1/vdl-label.1 udev/rules.d/60-veldrin-printers.rules; do
  grep -q "$wanted" <<<"$contents" || { echo "the package lacks $wanted"; echo "0 passed, 1 failed"; exit 1; }
done
echo "$(basename "$deb") holds the library, the header, the pkg-config file, the CMake package, the tool and the udev rule"
