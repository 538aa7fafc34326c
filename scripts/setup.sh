#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need.
# Idempotent: packages already present are skipped, apt runs only when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libasio-dev libsqlite3-dev sqlite3 libcurl4-openssl-dev libc-ares-dev
  libnl-3-dev libnl-genl-3-dev libnl-route-3-dev libicu-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-l10n-tools libgl-dev adwaita-icon-theme
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth poppler-utils desktop-file-utils libx11-dev
  iproute2 nftables iputils-ping procps psmisc python3
  locales fonts-dejavu-core fonts-open-sans libqpdf-dev xdotool openbox trayer
  debhelper lintian appstream librsvg2-bin
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The formatting tests run under a Hungarian locale.
if ! locale -a 2>/dev/null | grep -qi '^hu_HU\.utf-\?8$'; then
  echo "setup: generating hu_HU.UTF-8"
  if [ -f /etc/locale.gen ]; then
    $SUDO sed -i 's/^# *\(hu_HU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^hu_HU.UTF-8 UTF-8' /etc/locale.gen || echo 'hu_HU.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
  else
    $SUDO localedef -i hu_HU -f UTF-8 hu_HU.UTF-8
  fi
fi
echo "setup: ok"
