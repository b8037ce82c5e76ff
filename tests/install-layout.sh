#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks the installed layout: the program in bin/,
# its resources in share/talvian/, the desktop entry in share/applications/, and that the
# installed program finds the sample recording there (it loads and analyses it with --demo) and
# its media module in lib/talvian/.
# Usage: tests/install-layout.sh BUILD_FOLDER
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

for file in bin/talvian lib/talvian/libtalvian-media.so share/talvian/Localizable.json share/talvian/Info.json \
  share/talvian/Samples/sample-talk.mp4 share/applications/talvian.desktop; do
  [ -e "$prefix/$file" ] || { echo "missing from the installed layout: $file" >&2; exit 1; }
done
grep -qx 'Exec=talvian' "$prefix/share/applications/talvian.desktop"
# Nothing of the build tree may be needed: run it from elsewhere, with its own folders.
mkdir -p "$prefix/home/config" "$prefix/home/data" "$prefix/home/runtime"
chmod 700 "$prefix/home/runtime"
cd "$prefix/home"
report=$(QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$prefix/home/config" XDG_DATA_HOME="$prefix/home/data" \
  XDG_RUNTIME_DIR="$prefix/home/runtime" TALVIAN_SCREENSHOT="$prefix/home/shot.png" \
  timeout 90 "$prefix/bin/talvian" --demo 2>/dev/null | grep '^screenshot:')
# The preview plays through the media module, which the program finds in lib/talvian.
expected="screenshot: source $prefix/share/talvian/Samples/sample-talk.mp4; preview ready; notice (none)"
[ "$report" = "$expected" ] || { echo "installed program reported: $report" >&2; exit 1; }
[ -s "$prefix/home/shot.png" ]
