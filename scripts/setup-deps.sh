#!/usr/bin/env bash
# Installs what the build and the Wine tests need, and only what is missing:
# a second run with everything present touches neither dpkg nor the network.
set -euo pipefail

packages=(
  cmake g++ make googletest libgtest-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev zlib1g-dev libpng-dev
  libdeflate-dev clang libclang-rt-14-dev xorriso binutils-mingw-w64-i686 zip
  osslsigncode icoutils openssl
  wine wine32:i386 wine64
  xvfb xauth x11-utils openbox fonts-ipafont-gothic imagemagick locales
  nsis python3
)

is_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
  is_installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup-deps: installing ${missing[*]}"
  # wine32 is an i386 package; the architecture must be known before the update.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The tests run Wine under a Japanese locale so that its ANSI code page is 932, and some
# under others (TALVEN_LOCALE, see scripts/wine-rig.sh): 1252, 936 and 949. Generated
# offline from the locales package's own data.
test_locales=(ja_JP.UTF-8 en_US.UTF-8 zh_CN.UTF-8 ko_KR.UTF-8)
missing_locales=()
for l in "${test_locales[@]}"; do
  locale -a 2>/dev/null | grep -qixF "${l%.UTF-8}.utf8" || missing_locales+=("$l")
done
if [ ${#missing_locales[@]} -gt 0 ]; then
  echo "setup-deps: generating the locales ${missing_locales[*]}"
  for l in "${missing_locales[@]}"; do
    if [ -f /etc/locale.gen ] && grep -qE "^# *$l UTF-8" /etc/locale.gen; then
      as_root sed -i "s/^# *$l UTF-8/$l UTF-8/" /etc/locale.gen
    elif ! grep -qE "^$l UTF-8" /etc/locale.gen 2>/dev/null; then
      echo "$l UTF-8" | as_root tee -a /etc/locale.gen >/dev/null
    fi
  done
  as_root locale-gen
fi

echo "setup-deps: all build and test dependencies present"
