#!/usr/bin/env bash
# Installs every Debian package the project needs. Idempotent: it runs apt-get update and
# install only when a package is missing. --quiet says nothing when nothing is missing.
# --stamp FILE remembers in FILE that every package was there, and asks dpkg again only once the
# package list or dpkg's database has changed since (scripts/run.sh starts quicker so).
set -euo pipefail
quiet=false
stamp=""
while (($#)); do
  case "$1" in
    --quiet) quiet=true ;;
    --stamp)
      stamp="${2:?bootstrap: --stamp needs a file}"
      shift
      ;;
    *)
      echo "usage: bootstrap.sh [--quiet] [--stamp FILE]" >&2
      exit 2
      ;;
  esac
  shift
done

packages=(
  build-essential cmake ninja-build pkg-config
  g++ clang libclang-rt-14-dev clang-format
  qt6-base-dev qt6-base-dev-tools
  nlohmann-json3-dev libicu-dev libcurl4-openssl-dev libssl-dev libfmt-dev openssl
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-dejavu-core
)

# Every install and removal rewrites dpkg's status file: a stamp newer than it, for the same list,
# still holds. Read without a process started, as this runs at every launch.
database=/var/lib/dpkg/status
key="packages: ${packages[*]}"
if [ -n "$stamp" ] && [ "$stamp" -nt "$database" ] && read -r remembered <"$stamp" && [ "$remembered" = "$key" ]; then
  if ! $quiet; then echo "bootstrap: every package is installed"; fi
  exit 0
fi

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

if [ -n "$stamp" ]; then
  mkdir -p "$(dirname "$stamp")"
  printf '%s\n' "$key" >"$stamp.new"
  mv "$stamp.new" "$stamp"
fi
