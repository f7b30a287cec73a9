#!/usr/bin/env bash
# Installs what is needed, builds, creates a simulated 128 MiB NAND device and runs the main job
# on it. The device stays in $NANDKEEP_SIM_DIR (default /tmp/nandkeep-sim) for you to explore:
#   build/sim/nandkeep-sim <command>     the tool on the simulated device
#   build/sim/nandkeep-simctl status     what the simulator saw
set -euo pipefail
cd "$(dirname "$0")/.."
export NANDKEEP_SIM_DIR=${NANDKEEP_SIM_DIR:-/tmp/nandkeep-sim}
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build -j "${NANDKEEP_JOBS:-2}" nandkeep nandkeep-sim nandkeep-simctl
tool=build/sim/nandkeep-sim
ctl=build/sim/nandkeep-simctl
step() { printf '\n$ %s\n' "$*"; "$@" || echo "(exit status $?)"; }

step "$ctl" create --profile 128
step "$ctl" info
step "$tool" info
