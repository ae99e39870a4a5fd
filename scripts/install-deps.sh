#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev pkg-config
  python3 abigail-tools doxygen)
# The printer emulator: PNG previews, barcodes, fonts (bitmap device fonts,
# vector fonts, CJK and Thai text), the barcode readers its tests use, and curl,
# the render service's client in the README.
packages+=(libpng-dev libzint-dev libfreetype-dev fonts-terminus-otb fonts-dejavu-core fonts-wqy-zenhei
           fonts-tlwg-garuda-ttf zbar-tools zxing-cpp-tools curl)
# Images: JPEG and GIF decoding in the library; ImageMagick writes reference
# pictures for the tests only (the library never runs it).
packages+=(libjpeg62-turbo-dev libgif-dev imagemagick)

# BlueZ headers for the Bluetooth transport; libbluetooth itself is linked only by applications and tests.
packages+=(libbluetooth-dev)
# The Python binding is installed and tested offline with Debian's pip, setuptools and wheel;
# mypy checks that a typed program using it passes --strict.
packages+=(python3-venv python3-pip python3-setuptools python3-wheel mypy)
# The printer application: PAPPL and libcups to build it; ipptool and zint (barcode
# pictures to print) for its tests.
packages+=(libpappl-dev libcups2-dev cups-ipp-utils zint)
# PAM checks the administrators an authentication service admits.
packages+=(libpam0g-dev)
# Its web pages are checked in headless Chromium.
packages+=(chromium)
# The emulator's render service: HTTP with cpp-httplib, its JSON with nlohmann-json.
packages+=(libcpp-httplib-dev nlohmann-json3-dev)
# The render service's PDF answers are drawn with cairo.
packages+=(libcairo2-dev)
# Its tests count those PDFs' pages and draw them back (pdfinfo, pdftoppm).
packages+=(poppler-utils)
# The Debian packages: dependencies computed by dpkg-shlibdeps (CPack asks
# file which files are programs), checked with lintian.
packages+=(dpkg-dev file lintian)
# The image paths under valgrind's memcheck.
packages+=(valgrind)
# The printer application's benchmark runs LPrint beside it.
packages+=(lprint)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
