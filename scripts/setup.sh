#!/usr/bin/env bash
# Installs, with apt-get, every Debian package that building and testing need and that this
# machine lacks. Safe to run again: it does nothing when all are present.
set -euo pipefail

packages=(
  g++ cmake ninja-build make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev
  uuid-dev
  iproute2 util-linux procps
  nginx-light libcurl4-openssl-dev
  libcli11-dev nlohmann-json3-dev libopenimageio-dev
  python3-dev pybind11-dev python3-numpy python3-pytest
  g++-mingw-w64-x86-64-posix wine wine64 googletest
  libcpp-httplib-dev chromium chromium-driver python3-selenium
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep "install ok installed" >/dev/null || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
