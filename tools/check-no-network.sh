#!/usr/bin/env bash
# Usage: tools/check-no-network.sh [BUILD_FOLDER]
# Runs the application with the sample recording (--demo) for 20 s under strace and fails when
# any of its processes tries to connect to an internet address (AF_INET or AF_INET6); local
# sockets (AF_UNIX: the display, D-Bus) are fine. The build's own Info.json is used: in the
# default build it configures no updates, so nothing may reach the network.
# The application keeps its settings and backup in fresh folders, never in the user's.
# TALVIAN_APP replaces the program run (to try the check on another one).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath -m "${1:-$root/build}")"
app="${TALVIAN_APP:-$build/bin/talvian}"
seconds=20
command -v strace >/dev/null || { echo "strace is not installed (setup.sh installs it)" >&2; exit 2; }
[ -x "$app" ] || { echo "no program at $app" >&2; exit 2; }

home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/config" "$home/data" "$home/runtime"
chmod 700 "$home/runtime"
trace="$home/connect.trace"

# timeout runs under strace, so the program is stopped from inside the trace and strace ends
# with it; the outer bound only keeps a hung strace from stopping CI.
status=0
XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home/runtime" \
  QT_QPA_PLATFORM=offscreen \
  timeout --kill-after=5 $((seconds + 40)) \
  strace -f -qq -e trace=connect -o "$trace" \
  timeout "$seconds" "$app" --demo >"$home/output.log" 2>&1 || status=$?

# 124: the inner timeout stopped a program that was still running, which is the expected end.
# Anything else means it did not run the whole time, and the check proved nothing.
if [ "$status" -ne 124 ]; then
  echo "the program ended early (status $status) instead of running ${seconds} s:" >&2
  tail -n 20 "$home/output.log" >&2
  exit 1
fi
if grep -E 'sa_family=AF_INET6?[,}]' "$trace" >"$home/network.trace"; then
  echo "the program tried to reach the network:" >&2
  cat "$home/network.trace" >&2
  exit 1
fi
echo "no internet connection attempted in ${seconds} s ($(grep -c 'connect(' "$trace" || true) local connects)"
