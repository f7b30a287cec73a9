#!/usr/bin/env bash
# Refreshes Debian's package indexes before an install. A mirror in the middle of a sync can fail
# one index for a while ("File has unexpected size"): after three tries the install goes ahead with
# the indexes there are, and fails by itself if a package it needs is not in them.
set -uo pipefail
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
for iTry in 1 2 3; do
  $SUDO apt-get update -qq && exit 0
  [ "$iTry" -eq 3 ] || sleep 10
done
echo "apt-update: the package indexes could not all be refreshed; installing from those there are" >&2
