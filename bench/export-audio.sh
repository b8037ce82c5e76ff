#!/bin/sh
# Cut-export speed against one bare ffmpeg command, in one run. The source is a 60-minute
# speech M4A (espeak-ng sentences between pauses of 1.1 to 1.9 s, mono 48 kHz AAC); its
# review project removes about 600 pauses. The reference decodes the same source and encodes
# the same kept audio with the same codec and bit rate (aselect over the kept ranges).
# Prints both times (best of 2 rounds), the ratio ours ÷ reference (target ≤ 1.2), the peak
# memory of our own process and of the largest process of each run, ffmpeg children included
# (target ≤ 64 MB), and the duration check of the delivered file (kept duration within one
# AAC packet of 1024 frames).
# Usage: bench/export-audio.sh [build folder]   (default: build)
set -eu
cd "$(dirname "$0")/.."
bench=$(pwd)/bench
build=${1:-build}
tool="$(pwd)/$build/bin/bench/talvian-export"
[ -x "$tool" ] || { echo "build first: cmake --build --preset default ($tool missing)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 1; }

folder=$(mktemp -d "${TMPDIR:-/tmp}/talvian-export-bench.XXXXXX")
trap 'rm -rf "$folder"' EXIT INT TERM
cd "$folder"

echo "making a 60-minute speech recording…" >&2
i=0
for sentence in \
    "Today we look at how a small team can ship a reliable desktop application." \
    "The first step is always to understand what the user is trying to do." \
    "Measure before you optimise, and keep the measurement honest." \
    "Every file we write goes to a hidden name first, and is moved into place only when it is complete." \
    "A pause is not a mistake; it is a breath." \
    "When the recording is long, the tools must stay calm and predictable." \
    "Let us go back to the example from the beginning of the lecture." \
    "Short answers are often the clearest ones." \
    "Questions are welcome at any time, so please do not wait until the end." \
    "That brings us to the last point for today, which is about testing."; do
    espeak-ng -s 150 -w "s$i.wav" "$sentence"
    i=$((i + 1))
done
for p in 11 13 15 17 19; do
    ffmpeg -nostdin -v error -f lavfi -i "anullsrc=r=22050:cl=mono" -t "$(echo "$p" | sed 's/./&./')" "p$p.wav"
done
python3 - <<'PY'
import itertools, wave
sentences = [f"s{i}.wav" for i in range(10)]
pauses = ["p11.wav", "p13.wav", "p15.wav", "p17.wav", "p19.wav", "p13.wav", "p15.wav"]
def seconds(name):
    with wave.open(name) as w:
        return w.getnframes() / w.getframerate()
total, lines = 0.0, []
for k in itertools.count():
    s, p = sentences[(k * 7) % 10], pauses[k % len(pauses)]
    lines += [f"file '{s}'", f"file '{p}'"]
    total += seconds(s) + seconds(p)
    if total >= 3600:
        break
open("list.txt", "w").write("\n".join(lines) + "\n")
PY
ffmpeg -nostdin -v error -f concat -safe 0 -i list.txt -t 3600 -ar 48000 -ac 1 -c:a aac -b:a 96k talk.m4a
set -- $(python3 "$bench/make-project.py" talk.m4a talk.quenlo.json)
cuts=$1 kept=$2
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 talk.m4a)

# The reference keeps the same ranges: the complement of the project's cuts.
python3 - <<'PY'
import json
p = json.load(open("talk.quenlo.json"))
d = p["info"]["duration"]
cuts = sorted((c["start"], c["end"]) for c in p["cuts"])
kept, t = [], 0.0
for a, b in cuts:
    if a > t:
        kept.append((t, a))
    t = max(t, b)
if t < d:
    kept.append((t, d))
# A balanced sum: ffmpeg's expression parser refuses a chain of 600 terms as too deep.
def tree(ranges):
    if len(ranges) == 1:
        return "between(t,%r,%r)" % ranges[0]
    m = len(ranges) // 2
    return f"({tree(ranges[:m])}+{tree(ranges[m:])})"
open("select.txt", "w").write(f"aselect='{tree(kept)}',asetpts=N/SR/TB")
PY
cat talk.m4a > /dev/null

# Wall seconds and peak resident kilobytes of one command (its children included).
measure() {
    /usr/bin/time -f "%e %M" -o time.txt "$@" > out.txt 2> log.txt || { cat log.txt >&2; exit 1; }
    read -r seconds kilobytes < time.txt
}
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }
larger() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a > b) ? a : b }'; }

best_ours=; best_ref=; peak_ours=; peak_ref=; peak_own=
for round in 1 2; do
    rm -rf out ref.m4a
    measure "$tool" talk.quenlo.json out
    delivered=$(cat out.txt)
    best_ours=$(smaller "$seconds" "$best_ours"); peak_ours=$(larger "$kilobytes" "$peak_ours")
    own=$(sed -n 's/^peak memory: \([0-9]*\) KB (this process).*/\1/p' log.txt)
    peak_own=$(larger "$own" "$peak_own")
    echo "round $round: talvian-export ${seconds} s, ${kilobytes} KB (own process ${own} KB)" >&2
    measure ffmpeg -nostdin -hide_banner -y -i talk.m4a -map 0:a:0 -vn -filter_script:a select.txt \
        -c:a aac -b:a 192000 -ar 48000 -movflags +faststart ref.m4a
    best_ref=$(smaller "$seconds" "$best_ref"); peak_ref=$(larger "$kilobytes" "$peak_ref")
    echo "round $round: ffmpeg ${seconds} s, ${kilobytes} KB" >&2
done
delivered_duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$delivered")

awk -v d="$duration" -v c="$cuts" -v k="$kept" -v o="$best_ours" -v r="$best_ref" \
    -v mo="$peak_ours" -v mr="$peak_ref" -v own="$peak_own" -v got="$delivered_duration" 'BEGIN {
    printf "source: %.1f s speech M4A, %d removed pauses, %.3f s kept\n", d, c, k
    printf "talvian-export: %.2f s (best of 2), peak memory %.1f MB with its ffmpeg children\n", o, mo / 1024
    printf "bare ffmpeg:    %.2f s (best of 2), peak memory %.1f MB\n", r, mr / 1024
    printf "ratio (ours / ffmpeg): %.2f (target <= 1.2)\n", o / r
    printf "peak memory: %.1f MB own process, %.1f MB largest process (target <= 64 MB)\n", own / 1024, mo / 1024
    diff = got - k; if (diff < 0) diff = -diff
    packet = 1024 / 48000
    printf "delivered duration: %.6f s, kept %.6f s, off by %.4f s: %s (one packet = %.4f s)\n", got, k, diff,
           diff <= packet ? "ok" : "NOT OK", packet
}'
