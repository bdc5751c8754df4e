#!/usr/bin/env bash
# Installs the Debian packages Lumeno needs to build, run and test, when any is missing,
# and any further packages named on the command line (the benchmarks' tcpdump and tshark).
# Safe to run again: it does nothing when everything is present.
set -euo pipefail

packages=(
  cmake g++ make pkgconf
  qt6-base-dev libgl-dev
  libpcap-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  fonts-dejavu-core
  iproute2 libcap2-bin
  xvfb xdotool x11-utils
  openssh-server openssh-client tcpdump tshark
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "setup: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
