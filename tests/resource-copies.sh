#!/usr/bin/env bash
# Builds the resources again and checks that the build tree's copies are the sources' bytes and
# that not one of them was rewritten: a new modification time on the sample would make a session
# saved on it look like one made on a changed source.
# Usage: tests/resource-copies.sh BUILD_FOLDER
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$1"
sources="$root/Talvian/Resources"
copies="$build/bin/Resources"

cmake --build "$build" --target TalvianResources >/dev/null
files=(Localizable.json)
while IFS= read -r -d '' file; do files+=("${file#"$sources"/}"); done < <(find "$sources/Samples" -type f -print0)
declare -A before
for file in "${files[@]}"; do
  cmp -s "$sources/$file" "$copies/$file" || { echo "the build's copy of $file differs from its source" >&2; exit 1; }
  before[$file]="$(stat -c '%Y.%y' "$copies/$file")"
done

cmake --build "$build" --target TalvianResources >/dev/null
for file in "${files[@]}"; do
  after="$(stat -c '%Y.%y' "$copies/$file")"
  [ "$after" = "${before[$file]}" ] || { echo "a build without changes rewrote $file" >&2; exit 1; }
done
echo "checked ${#files[@]} resource copies"
