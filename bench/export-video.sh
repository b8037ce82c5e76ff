#!/bin/sh
# Cut-export speed and picture/sound agreement on a video, against one bare ffmpeg command in
# the same run. The source is a 5-minute 1080p30 H.264 + stereo 48 kHz AAC talk (espeak-ng
# sentences between pauses of 0.9 to 1.5 s under a moving test picture), analysed as the
# application does (talvian-analyze, default settings), which removes about 90 pauses. The
# reference decodes the same source once and encodes the same kept ranges with the select and
# aselect filters and the encoder settings our export uses (libx264 at the same average bit
# rate, key-frame interval and no B-frames; AAC at the same bit rate and 48 kHz).
# Prints both times (best of 2 rounds), the ratio ours ÷ reference (target <= 1.0), for both
# outputs the audio stream duration minus the video stream duration (ours: less than one
# frame), and how far our delivered duration is from the kept duration (within one frame).
# Usage: bench/export-video.sh [build folder]   (default: build)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
tool="$(pwd)/$build/bin/bench/talvian-export"
analyze="$(pwd)/$build/bench/talvian-analyze"
[ -x "$analyze" ] || analyze="$(pwd)/$build/bin/talvian-analyze"
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 1; }
for program in "$tool" "$analyze"; do
    [ -x "$program" ] || { echo "build first: cmake --build --preset default ($program missing)" >&2; exit 1; }
done

folder=$(mktemp -d "${TMPDIR:-/tmp}/talvian-video-bench.XXXXXX")
trap 'rm -rf "$folder"' EXIT INT TERM
cd "$folder"

echo "making a 5-minute 1080p30 speech video…" >&2
i=0
for sentence in \
    "Welcome back to the course." \
    "Today we talk about reliable tools." \
    "Measure first, then decide." \
    "Every file goes to a hidden name first." \
    "A pause is not a mistake." \
    "Long recordings need calm tools." \
    "Let us look at the example again." \
    "Short answers are often clearer." \
    "Questions are always welcome." \
    "That is the last point for today."; do
    espeak-ng -s 165 -w "s$i.wav" "$sentence"
    i=$((i + 1))
done
for p in 0.9 1.1 1.3 1.5; do
    ffmpeg -nostdin -v error -f lavfi -i "anullsrc=r=22050:cl=mono" -t "$p" "p$p.wav"
done
python3 - <<'PY'
import itertools, wave
sentences = [f"s{i}.wav" for i in range(10)]
pauses = ["p0.9.wav", "p1.1.wav", "p1.3.wav", "p1.5.wav", "p1.1.wav", "p1.3.wav"]
def seconds(name):
    with wave.open(name) as w:
        return w.getnframes() / w.getframerate()
total, lines = 0.0, []
for k in itertools.count():
    s, p = sentences[(k * 7) % 10], pauses[k % len(pauses)]
    lines += [f"file '{s}'", f"file '{p}'"]
    total += seconds(s) + seconds(p)
    if total >= 300:
        break
open("list.txt", "w").write("\n".join(lines) + "\n")
PY
ffmpeg -nostdin -v error -f concat -safe 0 -i list.txt -t 300 -ar 48000 -ac 2 speech.wav
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=1920x1080:rate=30:duration=300" -i speech.wav \
    -map 0:v -map 1:a -c:v libx264 -preset veryfast -crf 20 -g 60 -pix_fmt yuv420p \
    -c:a aac -b:a 128k -movflags +faststart talk.mp4

echo "analysing…" >&2
"$analyze" talk.mp4 > talk.quenlo.json 2> analyze.log || { cat analyze.log >&2; exit 1; }

# The reference keeps the same ranges (the complement of the removed cuts) with the same
# encoder settings; settings.txt holds: cuts, kept seconds, frame rate, video and audio bit rates.
python3 - <<'PY'
import json
p = json.load(open("talk.quenlo.json"))
info = p["info"]
d = info["duration"]
cuts = sorted((c["start"], c["end"]) for c in p["cuts"] if c["remove"])
kept, t = [], 0.0
for a, b in cuts:
    if a > t + 0.001:
        kept.append((t, a))
    t = max(t, b)
if d > t + 0.001:
    kept.append((t, d))
# A balanced sum: ffmpeg's expression parser refuses a long chain of terms as too deep.
def tree(ranges):
    if len(ranges) == 1:
        return "between(t,%r,%r)" % ranges[0]
    m = len(ranges) // 2
    return f"({tree(ranges[:m])}+{tree(ranges[m:])})"
open("vselect.txt", "w").write(f"select='{tree(kept)}',setpts=N/FRAME_RATE/TB")
open("aselect.txt", "w").write(f"aselect='{tree(kept)}',asetpts=N/SR/TB")
f = max(info["frameRate"], 1.0)
video_rate = max(min(f * info["width"] * info["height"] * 0.25, 40e6), 1e6)
key_interval = max(1, int(2 * f + 0.5))
audio_rate = max(192000, 160000 * 2)
removed = sum(b - a for a, b in cuts)
open("settings.txt", "w").write(
    f"{len(cuts)} {max(0.0, d - removed):.6f} {f!r} {int(round(video_rate))} {key_interval} {audio_rate}\n")
PY
read -r cuts kept rate video_rate key_interval audio_rate < settings.txt
cat talk.mp4 > /dev/null

seconds_of() {
    /usr/bin/time -f "%e" -o time.txt "$@" > out.txt 2> log.txt || { cat log.txt >&2; exit 1; }
    cat time.txt
}
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

best_ours=; best_ref=
for round in 1 2; do
    rm -rf out ref.mp4
    seconds=$(seconds_of "$tool" talk.quenlo.json out)
    delivered=$(cat out.txt)
    best_ours=$(smaller "$seconds" "$best_ours")
    echo "round $round: talvian-export ${seconds} s ($(grep linear-read log.txt))" >&2
    seconds=$(seconds_of ffmpeg -nostdin -hide_banner -y -i talk.mp4 -map 0:v:0 -map 0:a:0 \
        -filter_script:v vselect.txt -filter_script:a aselect.txt \
        -c:v libx264 -b:v "$video_rate" -g "$key_interval" -bf 0 -pix_fmt yuv420p \
        -c:a aac -b:a "$audio_rate" -ar 48000 -movflags +faststart ref.mp4)
    best_ref=$(smaller "$seconds" "$best_ref")
    echo "round $round: ffmpeg ${seconds} s" >&2
done

# Stream durations (start offsets included) and the file's duration.
durations() {
    ffprobe -v error -show_entries stream=codec_type,start_time,duration:format=duration -of json "$1" |
        python3 -c '
import json, sys
p = json.load(sys.stdin)
end = {s["codec_type"]: float(s.get("start_time", 0)) + float(s["duration"]) for s in p["streams"]}
print(end["video"], end["audio"], p["format"]["duration"])'
}
set -- $(durations "$delivered")
ours_video=$1 ours_audio=$2 ours_file=$3
set -- $(durations ref.mp4)
ref_video=$1 ref_audio=$2

awk -v c="$cuts" -v k="$kept" -v f="$rate" -v o="$best_ours" -v r="$best_ref" \
    -v ov="$ours_video" -v oa="$ours_audio" -v of="$ours_file" -v rv="$ref_video" -v ra="$ref_audio" 'BEGIN {
    frame = 1 / f
    printf "source: 300 s 1080p%g H.264 + AAC talk, %d removed pauses, %.3f s kept\n", f, c, k
    printf "talvian-export: %.2f s (best of 2)\n", o
    printf "bare ffmpeg:    %.2f s (best of 2)\n", r
    printf "ratio (ours / ffmpeg): %.2f (target <= 1.0)\n", o / r
    d = oa - ov; a = d < 0 ? -d : d
    printf "ours:   audio %.4f s, video %.4f s, audio - video %+.4f s: %s (one frame = %.4f s)\n", oa, ov, d,
           a < frame ? "ok" : "NOT OK", frame
    printf "ffmpeg: audio %.4f s, video %.4f s, audio - video %+.4f s\n", ra, rv, ra - rv
    d = of - k; a = d < 0 ? -d : d
    printf "delivered duration: %.4f s, kept %.4f s, off by %.4f s: %s\n", of, k, a, a <= frame ? "ok" : "NOT OK"
}'
