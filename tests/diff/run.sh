#!/usr/bin/env bash
# The differential campaign: the same seeded device states through two builds of nandkeep, the
# simulator build of git revision REV ("ref") and of the working tree ("new"); everything a user
# or the device can observe must be identical. See README.md beside this file.
#
#   tests/diff/run.sh --ref REV [--states N] [--seed S] [--jobs J] [--only K]
#
# Builds both (targets nandkeep-sim and nandkeep-simctl) under build-diff/, REV from
# `git archive`, reusing the build directories; campaign.py draws N scenarios of seed S (default:
# the clock) into build-diff/scenarios/S/, plays them J at a time and prints every difference,
# then "N states, D differences". The exit status is 0 only when every scenario ran on both
# builds and nothing differed.
set -euo pipefail
ref='' states=20 seed=$(date +%s) jobs=2 only=''
while [ $# -ge 2 ] && [[ $1 == --@(ref|states|seed|jobs|only) ]]; do
    declare "${1#--}=$2"
    shift 2
done
[ $# -eq 0 ] && [ -n "$ref" ] || { echo "usage: $(sed -n '6s/^# *//p' "$0")" >&2; exit 2; }
cd "$(dirname "$0")/../.." && area=$PWD/build-diff
commit=$(git rev-parse --verify "$ref^{commit}")

build() { # SOURCE BUILD-DIR: configured once, then the simulator targets; the log if that fails
    { [ -f "$2/build.ninja" ] || cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
      ninja -C "$2" -j2 nandkeep-sim nandkeep-simctl; } >"$2.log" 2>&1 || { cat "$2.log"; exit 1; }
}

# REV's sources, complete once the marker is there.
[ -f "$area/$commit.done" ] || { rm -rf "$area/$commit" && mkdir -p "$area/$commit/src" &&
    git archive "$commit" | tar -x -C "$area/$commit/src" && touch "$area/$commit.done"; }
build "$area/$commit/src" "$area/$commit/build"
build "$PWD" "$area/new"
cc -std=c11 -O2 -shared -fPIC -Wall -Wextra -Werror -o "$area/pintime.so" tests/diff/pintime.c
mkdir -p "$area/scenarios/$seed"
echo "ref $ref = $commit; seed $seed; scenario K again: $0 --ref $ref --seed $seed --only K"
exec python3 tests/diff/campaign.py "$area/$commit/build" "$area/new" "$area/pintime.so" \
    "$area/scenarios/$seed" "$seed" "$states" "$jobs" $only
