#!/usr/bin/env bash
# Usage: tools/screenshot.sh OUT.png [application arguments…]
# Starts the application on a private X server (Xvfb), waits until it is idle (with --demo:
# the sample analysed), writes a PNG of the whole screen to OUT.png and closes it; at most 45 s.
# The application keeps its settings and backup in fresh folders, never in the user's.
# TALVIAN_SCREENSHOT_KEYS=Down,+,grip,Space presses keys first (one at a time, each once idle);
# "click:<text>" clicks a button, "menu:文件" or "menu:文件/最近剪辑" opens a menu of the menu bar,
# "action:键盘快捷键…" triggers an item of the menu bar;
# TALVIAN_SCREENSHOT_SIZE=940x760 sets the window's size.
set -euo pipefail
if (($# < 1)); then
  echo "usage: $0 OUT.png [application arguments…]" >&2
  exit 2
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(realpath -m "$1")"
shift
app="${TALVIAN_APP:-$root/build/bin/talvian}"
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/config" "$home/data" "$home/runtime"
chmod 700 "$home/runtime"
rm -f "$out"
XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home/runtime" \
  TALVIAN_SCREENSHOT="$out" QT_QPA_PLATFORM=xcb \
  timeout --kill-after=2 45 xvfb-run -a -s "-screen 0 1280x820x24" "$app" "$@"
test -s "$out"
echo "$out"
