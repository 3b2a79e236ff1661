#!/usr/bin/env bash
# Installs every Debian package that the build, the viewer and the tests need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
PACKAGES=(
  build-essential cmake pkg-config ninja-build clang lld libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools qt6-declarative-dev
  libqt6webenginecore6-bin qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-translations-l10n
  libqt6svg6 qt6-qpa-plugins libgl-dev libvulkan-dev
  qt6-image-formats-plugins netpbm
  libmspack-dev libdeflate-dev libjpeg62-turbo-dev zlib1g-dev libglib2.0-dev libxcb1-dev
  libsqlite3-dev libgmime-3.0-dev libxml2-dev libfontconfig-dev nettle-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev time
  libgif-dev gifsicle imagemagick cabextract gcab xdg-utils
  desktop-file-utils libxml2-utils man-db dpkg-dev file
  gir1.2-gnomedesktop-3.0 python3-gi bubblewrap
  xvfb xauth openbox fonts-dejavu-core fonts-liberation2 adwaita-icon-theme-full hicolor-icon-theme shared-mime-info
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
