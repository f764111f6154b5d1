#!/usr/bin/env bash
# Installs every Debian package the project needs. Idempotent: it runs apt-get update and
# install only when a package is missing. --quiet says nothing when nothing is missing.
set -euo pipefail
quiet=false
if [ "${1:-}" = --quiet ]; then quiet=true; fi

packages=(
  build-essential cmake ninja-build pkg-config
  g++ clang libclang-rt-14-dev clang-format
  qt6-base-dev qt6-base-dev-tools
  nlohmann-json3-dev libicu-dev libcurl4-openssl-dev libssl-dev libfmt-dev openssl
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "bootstrap: installing ${missing[*]}"
  sudo=""
  if [ "$(id -u)" != 0 ]; then sudo="sudo"; fi
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
elif ! $quiet; then
  echo "bootstrap: every package is installed"
fi
