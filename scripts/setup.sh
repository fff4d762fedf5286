#!/usr/bin/env bash
# Installs the Debian packages the project needs to build, run and test.
# As root it runs apt-get; otherwise it prints the command to run.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config
  libxml2-dev zlib1g-dev libssl-dev
  libsqlite3-dev sqlite3
  libpcre2-dev
  libzip-dev
  libmupdf-dev libmujs-dev libgumbo-dev libopenjp2-7-dev libjbig2dec0-dev
  libharfbuzz-dev libjpeg-dev libfreetype-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  qt6-translations-l10n
  fonts-nanum
  libgtest-dev libgmock-dev libbenchmark-dev
  openssl
  python3-olefile clang unzip
  mupdf-tools poppler-utils
  p7zip-full ntfs-3g ntfs-3g-dev
  ripgrep
  docx2txt
  catdoc
  antiword
  xvfb openbox xdotool x11-utils imagemagick sqlite3
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "Missing packages. Run as root:" >&2
  echo "  apt-get install -y ${missing[*]}" >&2
  exit 1
fi
