#!/usr/bin/env bash
# Installs the Debian packages Corvane needs to build and test. Safe to run again:
# when everything is present it prints nothing and changes nothing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libssl-dev openssl
  libpugixml-dev
  libsystemd-dev
  libpam0g-dev libpam-wrapper
  libgtest-dev googletest
  python3 curl lftp
  qt6-base-dev qt6-svg-dev
  xvfb xauth fonts-dejavu-core
  dbus-daemon
  clang libclang-rt-14-dev
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "Missing packages: ${missing[*]}; run this script as root (or with sudo) to install them." >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
