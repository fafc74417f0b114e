#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need.
# Idempotent: apt-get runs only when a package is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache python3
  qtbase5-dev qtbase5-dev-tools
  libdcmtk-dev dcmtk
  libfmt-dev libeigen3-dev libgtest-dev libgmock-dev libcurl4-openssl-dev libjemalloc-dev zlib1g-dev
  libopenjp2-7-dev clang libclang-rt-14-dev
  libvtk9-dev libvtk9-qt-dev xvfb xauth
  python3-pydicom python3-numpy python3-gdcm dicom3tools
  orthanc orthanc-dicomweb
  libtesseract-dev tesseract-ocr-eng qtkeychain-qt5-dev gnome-keyring dbus-daemon
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

echo "Installing: ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq -o DPkg::Lock::Timeout=600
$SUDO apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends "${missing[@]}"
