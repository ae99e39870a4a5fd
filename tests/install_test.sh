#!/usr/bin/env bash
# Installs the library into a temporary prefix and builds applications against
# it through pkg-config and through find_package: a C one, and a C++17 one that
# prints a label on the emulator. Then builds the Debian packages, checks them
# with lintian, and unpacks them into a scratch root (the system is left as it
# is) to check what they hold, what they depend on, and that their programs and
# their Python package run from there with Debian's own python3. As root, where
# none of them is installed yet, it also installs them with dpkg, imports the
# Python package, and purges them: nothing may be left behind.
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d)
emulator=""
installed=""  # the packages this test installed, purged whatever happens
trap '[ -z "$emulator" ] || kill "$emulator"; [ -z "$installed" ] || dpkg --purge $installed >/dev/null; rm -rf "$work"' EXIT
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
printf '#include <VdlZpl.h>\nint main(void) { return VdlZplDetect("^XA^XZ", 6) == 1 ? 0 : 1; }\n' >"$work/zpl.c"
cc -std=c99 -Wall -Werror "$work/zpl.c" $(pkg-config --cflags --libs VdlZpl) -Wl,-rpath,"$libdir" -o "$work/zpl"
"$work/zpl" && echo "linked against the installed ZPL translator"

echo "== find_package"
cmake -S "$source/tests/consumer" -B "$work/consumer-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer-build" >/dev/null
"$work/consumer-build/consumer"
"$work/consumer-build/consumer_cpp" "$port"
[ "$(grep -c 'P print' "$work/printed.log")" -eq 2 ] || { echo "the emulator printed no two labels"; exit 1; }

echo "== Debian packages"
fail() { echo "$1"; echo "0 passed, 1 failed"; exit 1; }
command -v lintian >/dev/null || fail "lintian is missing (scripts/install-deps.sh installs it)"
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null)
debs=("$work"/package/*.deb)
# No error, and no warning but the two docs/linking.md explains.
lintian --fail-on error,warning --suppress-tags maintscript-calls-ldconfig,pkg-config-unavailable-for-cross-compilation \
  "${debs[@]}" || fail "lintian finds faults in the packages"
root="$work/root"
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$root"; done
contents=$(cd "$root" && find . -type f -o -type l)
for wanted in /libVdlLabelAPI.so.1 /usr/include/VdlLabelAPI.h /usr/include/VdlLabelAPI.hpp /pkgconfig/VdlLabelAPI.pc \
              /cmake/VdlLabelAPI/VdlLabelAPIConfig.cmake /udev/rules.d/60-veldrin-printers.rules /usr/bin/vdl-label \
              /usr/share/man/man1/vdl-label.1.gz /usr/share/bash-completion/completions/vdl-label \
              /usr/lib/python3/dist-packages/vdllabel/_words.py /usr/share/doc/python3-vdllabel/copyright; do
  grep -q "$wanted\$" <<<"$contents" || fail "the packages lack $wanted"
done
# Each package and what it must depend on (the printer application's only when it is built).
while read -r package needs; do
  deb=$(find "$work/package" -maxdepth 1 -name "${package}_*.deb")
  if [ -z "$deb" ]; then [ "$package" = vdl-printer-app ] && continue; fail "no package $package"; fi
  depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//')
  for need in $needs; do
    grep -qxF "$need" <<<"$depends" || fail "$package does not depend on $need: $(dpkg-deb -f "$deb" Depends)"
  done
done <<'TABLE'
libvdllabelapi1 libc6 libstdc++6 libjpeg62-turbo libgif7 libpng16-16
libvdllabelapi-dev libvdllabelapi1
vdl-label libvdllabelapi1 libstdc++6 libbluetooth3
python3-vdllabel libvdllabelapi1 python3 libbluetooth3
vdl-printer-app libvdllabelapi1 libstdc++6 libpng16-16 libpappl1 libcups2
TABLE
LD_LIBRARY_PATH=$(dirname "$(find "$root" -name libVdlLabelAPI.so.1)")
export LD_LIBRARY_PATH
"$root/usr/bin/vdl-label" --version >/dev/null || fail "the packaged vdl-label does not run"
/usr/bin/python3 -c 'import sys; sys.exit("/usr/lib/python3/dist-packages" not in sys.path)' ||
  fail "Debian's python3 does not read /usr/lib/python3/dist-packages"
PYTHONPATH="$root/usr/lib/python3/dist-packages" /usr/bin/python3 -c '
import sys, vdllabel
assert vdllabel.__file__.startswith(sys.argv[1]), vdllabel.__file__
with vdllabel.Printer(sys.argv[2]) as printer:
    printer.status()' "$root/usr/lib/python3/dist-packages" "$port" || fail "the packaged Python package does not work"
python_depends=$(dpkg-deb -f "$(find "$work/package" -maxdepth 1 -name 'python3-vdllabel_*.deb')" Depends)
grep -qE 'libvdllabelapi1 \((=|>=) [0-9]' <<<"$python_depends" ||
  fail "python3-vdllabel does not bound the library's version: $python_depends"

echo "== dpkg -i, import, dpkg --purge"
packages=$(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Package; done)
if [ "$(id -u)" -ne 0 ]; then
  echo "not root: installing the packages left out"
elif dpkg-query -W -f='${db:Status-Abbrev}\n' $packages 2>/dev/null | grep -qv '^un'; then
  echo "some of the packages are installed on this system already: installing them left out"
else
  # The folders the packages bring, which were not there before: they must go with them.
  folders=$(for deb in "${debs[@]}"; do dpkg-deb -c "$deb"; done | awk '$1 ~ /^d/ {print substr($6, 2)}' | sort -u |
            while read -r folder; do [ -d "$folder" ] || echo "$folder"; done)
  installed=$packages
  dpkg -i "${debs[@]}" >/dev/null || fail "dpkg -i of the packages fails"
  # As a user runs it: byte code written beside the modules.
  (unset LD_LIBRARY_PATH PYTHONDONTWRITEBYTECODE; cd / && /usr/bin/python3 -c 'import vdllabel; vdllabel.load_library()') ||
    fail "the installed Python package does not load the installed library"
  [ -d /usr/lib/python3/dist-packages/vdllabel/__pycache__ ] ||
    fail "importing the installed package wrote no byte code"
  dpkg --purge $packages >/dev/null || fail "dpkg --purge of the packages fails"
  installed=""
  left=$(for folder in $folders; do [ ! -e "$folder" ] || find "$folder"; done)
  [ -z "$left" ] || fail "purging the packages leaves behind: $left"
  echo "installed, imported and purged: nothing left behind"
fi
echo "$(basename -a "${debs[@]}" | tr '\n' ' ')pass lintian; the library, headers, tool, Python package and printer application are where Debian looks, with their dependencies"
