#!/bin/sh
# SHA-256 throughput of MediaFingerprint against sha256sum on the same 2 GB file, in
# one run. Prints both speeds and the ratio ours ÷ sha256sum (target: at least 0.9).
# Usage: bench/sha256.sh [build folder]   (default: build)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
tool="$build/bin/talvian-bench-sha256"
[ -x "$tool" ] || { echo "build first: cmake --build --preset default ($tool missing)" >&2; exit 1; }

bytes=$((2 * 1024 * 1024 * 1024))
folder=${TMPDIR:-/tmp}
free_kb=$(df -Pk "$folder" | awk 'NR == 2 { print $4 }')
[ "$free_kb" -gt $((bytes / 1024 + 1048576)) ] || { echo "not enough free space in $folder" >&2; exit 1; }

file=$(mktemp "$folder/talvian-sha256-bench.XXXXXX")
trap 'rm -f "$file"' EXIT INT TERM
head -c "$bytes" /dev/urandom > "$file"
cat "$file" > /dev/null  # both programs read from the page cache

# Wall time of one command in seconds, its standard output kept in $output.
timed() {
    start=$(date +%s.%N)
    output=$("$@" | cut -c1-64)
    end=$(date +%s.%N)
    seconds=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }')
}
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

best_ours=; best_ref=
for round in 1 2 3; do
    timed "$tool" "$file"; ours=$output; t_ours=$seconds
    timed sha256sum "$file"; ref=$output; t_ref=$seconds
    [ "$ours" = "$ref" ] || { echo "digests differ: $ours vs $ref" >&2; exit 1; }
    best_ours=$(smaller "$t_ours" "$best_ours")
    best_ref=$(smaller "$t_ref" "$best_ref")
    echo "round $round: MediaFingerprint ${t_ours} s, sha256sum ${t_ref} s"
done
awk -v b="$bytes" -v o="$best_ours" -v r="$best_ref" 'BEGIN {
    printf "file: %.0f MiB (best of 3 rounds)\n", b / 1048576
    printf "MediaFingerprint: %.1f MiB/s\n", b / 1048576 / o
    printf "sha256sum:        %.1f MiB/s\n", b / 1048576 / r
    printf "ratio (ours / sha256sum): %.2f (target >= 0.9)\n", r / o
}'
