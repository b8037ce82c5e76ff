#!/bin/sh
# Whole-edit audition of a 60-minute source with 600 removed pauses: time until the player
# is ready and processor use while playing (ao=null), against the plain file in the same run;
# last, the same through the controller, from its whole-edit audition call until the player
# reports ready (targets: ready within 0.5 s, under 10 % of one core while playing).
# Usage: bench/audition.sh [build folder]   (default: build)
set -eu
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "making a 60-minute source…"
ffmpeg -nostdin -v error -y -f lavfi -i "sine=f=220:r=48000:d=3600" -c:a aac -b:a 64k "$work/long.m4a"
"$build/bin/talvian-bench-audition" "$work/long.m4a" 3600 600 10
