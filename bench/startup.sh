#!/usr/bin/env bash
# Time from launch to the first painted window: the application without and with --demo,
# against a bare Qt program that shows one empty QMainWindow, all on one private X server
# (Xvfb), best of 5 rounds each. Prints the ratios application ÷ bare (target without --demo:
# at most 1.5; with --demo the sample's analysis must not delay the first paint).
# Usage: bench/startup.sh [build folder]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
app="$build/bin/talvian"
bare="$build/bin/bench/talvian-bench-bare-window"
for tool in "$app" "$bare"; do
  [ -x "$tool" ] || { echo "build first: cmake --build --preset default ($tool missing)" >&2; exit 1; }
done

home=$(mktemp -d)
mkdir -p "$home/config" "$home/data" "$home/runtime"
chmod 700 "$home/runtime"
display=:$((90 + RANDOM % 400))
Xvfb "$display" -screen 0 1280x820x24 -nolisten tcp >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$home"' EXIT INT TERM
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  sleep 0.1
done

# Milliseconds from launch to the first paint of one run, as on a first start (no settings,
# no earlier edit).
first_paint() {
  local start output
  rm -rf "$home/config" "$home/data"
  mkdir -p "$home/config" "$home/data"
  start=$(date +%s%N)
  output=$(DISPLAY=$display QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
    XDG_RUNTIME_DIR="$home/runtime" TALVIAN_REPORT_FIRST_PAINT=1 timeout 60 "$@" 2>/dev/null | grep '^first-paint')
  awk -v s="$start" -v p="${output#first-paint }" 'BEGIN { printf "%.1f", (p - s) / 1e6 }'
}
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

best_bare= best_app= best_demo=
for round in 1 2 3 4 5; do
  t_bare=$(first_paint "$bare")
  t_app=$(first_paint "$app")
  t_demo=$(first_paint "$app" --demo)
  best_bare=$(smaller "$t_bare" "$best_bare")
  best_app=$(smaller "$t_app" "$best_app")
  best_demo=$(smaller "$t_demo" "$best_demo")
  echo "round $round: bare ${t_bare} ms, talvian ${t_app} ms, talvian --demo ${t_demo} ms"
done
awk -v b="$best_bare" -v a="$best_app" -v d="$best_demo" 'BEGIN {
  printf "best of 5: bare %.1f ms, talvian %.1f ms, talvian --demo %.1f ms\n", b, a, d
  printf "ratio talvian / bare:        %.2f (target <= 1.5)\n", a / b
  printf "ratio talvian --demo / bare: %.2f\n", d / b
}'
