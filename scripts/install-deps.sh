#!/usr/bin/env bash
# Installs what building and testing nandkeep needs on Debian 12. Safe to run again.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
pkgs=(build-essential cmake ninja-build zlib1g-dev libgtest-dev libgmock-dev u-boot-tools
      clang libclang-rt-14-dev clang-format python3 python3-cram busybox-static)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  "$(dirname "$0")/apt-update.sh"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
