#!/usr/bin/env bash
# Times the pause analysis against the bare child processes it runs.
#
# Generates (or reuses) a speech recording of MINUTES minutes (default 60): synthesised speech
# with pauses over faint room noise, AAC at 48 kHz stereo, once in an MP4 with a small picture
# stream (the video road: -copyts and the resampling chain) and once in an M4A. For each file it
# runs talvian-analyze in three cases (fixed at −35 dB, where the quiet-recording guard runs;
# fixed at −40 dB; adaptive), then runs the same ffprobe and ffmpeg command lines bare, one after
# the other, and prints the ratio analysis time ÷ bare time and the analysis process's own peak
# memory. Needs espeak-ng, sox, ffmpeg and a build (cmake --preset default && cmake --build
# --preset default).
#
#   bench/analysis.sh                 # 60 minutes
#   MINUTES=180 bench/analysis.sh     # the three-hour memory check
#   REPEATS=3 bench/analysis.sh       # each time is the best of three runs (default 1)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
tool=${TALVIAN_ANALYZE:-$root/build/bin/talvian-analyze}
minutes=${MINUTES:-60}
repeats=${REPEATS:-1}
cache=${TALVIAN_BENCH_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/talvian-bench}
[ -x "$tool" ] || { echo "missing $tool: build the project first" >&2; exit 1; }
mkdir -p "$cache"
mp4=$cache/speech-${minutes}min.mp4
m4a=$cache/speech-${minutes}min.m4a

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_recording() {
  # One block of about a minute: sentences, each followed by its pause (seconds).
  local sentences=(
    "Good morning, and welcome to this long recording made for timing the analysis.|0.6"
    "Every sentence is followed by a pause of a different length.|1.4"
    "Some pauses are short, like a breath between two thoughts.|0.3"
    "Others are long enough that a listener would notice them.|2.2"
    "The analysis has to find all of them, and it has to be quick.|0.9"
    "It reads the sound once and keeps nothing in memory that it does not need.|3.0"
    "Then it writes a small project with the pauses and an overview of the sound.|0.5"
    "That is the end of this block, and it will now repeat.|1.8"
  )
  local parts=() i=0 text pause
  for entry in "${sentences[@]}"; do
    text=${entry%|*}
    pause=${entry##*|}
    espeak-ng -v en -s 165 -w "$work/raw$i.wav" "$text"
    sox "$work/raw$i.wav" -r 48000 -c 1 -b 16 "$work/s$i.wav" silence 1 0.02 0.5% reverse silence 1 0.02 0.5% reverse
    sox -n -r 48000 -c 1 -b 16 "$work/p$i.wav" trim 0 "$pause"
    parts+=("$work/s$i.wav" "$work/p$i.wav")
    i=$((i + 1))
  done
  sox "${parts[@]}" "$work/block.wav"
  local block repeats
  block=$(soxi -D "$work/block.wav")
  repeats=$(python3 -c "import math; print(max(math.ceil($minutes * 60 / $block) - 1, 0))")
  sox "$work/block.wav" "$work/long.wav" repeat "$repeats" trim 0 "$((minutes * 60))"
  sox -n -r 48000 -c 1 -b 16 "$work/room.wav" synth "$((minutes * 60))" pinknoise vol 0.002
  sox -m "$work/long.wav" "$work/room.wav" -c 2 "$work/talk.wav" norm -3
  ffmpeg -nostdin -v error -y -i "$work/talk.wav" -c:a aac -b:a 128k "$m4a.part.m4a"
  ffmpeg -nostdin -v error -y -f lavfi -i "color=c=0x204060:s=160x90:r=5:d=$((minutes * 60))" -i "$m4a.part.m4a" \
    -map 0:v -map 1:a -c:v libx264 -preset ultrafast -tune stillimage -c:a copy "$mp4.part.mp4"
  mv "$m4a.part.m4a" "$m4a"
  mv "$mp4.part.mp4" "$mp4"
}

if [ ! -s "$mp4" ] || [ ! -s "$m4a" ]; then
  echo "generating a ${minutes}-minute recording in $cache …" >&2
  make_recording
fi

now() { date +%s.%N; }
ffmpeg_bin=$(command -v ffmpeg)
ffprobe_bin=$(command -v ffprobe)

# The bare reference: the analysis's own child command lines, prepared from the project the
# analysis wrote and then timed alone, one after the other.
prepare_bare() {
  local file=$1 mode=$2 project=$3
  local duration channels hasvideo threshold rate chain=()
  read -r duration channels hasvideo threshold < <(python3 - "$project" <<'PY'
import json, sys
p = json.load(open(sys.argv[1]))
print(repr(float(p["info"]["duration"])), 0, "1" if p["info"]["hasVideo"] else "0",
      repr(float(p.get("effectiveThresholdDB", p["options"]["thresholdDB"]))))
PY
)
  channels=$("$ffprobe_bin" -v error -select_streams a:0 -show_entries stream=channels -of csv=p=0 "$file")
  [ "$channels" -lt 2 ] && channels=2
  if [ "$mode" = adaptive ]; then rate=8000; else rate=2000; fi
  [ "$hasvideo" = 1 ] && chain+=("aresample=async=1:first_pts=0" "apad=whole_dur=$duration" "atrim=duration=$duration")
  [ "$mode" != adaptive ] && chain+=("silencedetect=noise=${threshold}dB:d=0.8")
  [ "$hasvideo" = 1 ] && chain+=("aresample=$rate")
  decode=(-hide_banner -nostdin -y)
  [ "$hasvideo" = 1 ] && decode+=(-copyts)
  decode+=(-i "$file" -map 0:a:0 -vn)
  if [ ${#chain[@]} -gt 0 ]; then decode+=(-af "$(IFS=,; echo "${chain[*]}")"); fi
  decode+=(-ac "$channels" -ar "$rate" -c:a pcm_f32le -f f32le "$work/waveform.f32")
}

run_bare() {
  local file=$1 mode=$2
  "$ffprobe_bin" -v error -show_format -show_streams -of json "$file" >/dev/null
  "$ffprobe_bin" -v error -select_streams a:0 -show_entries stream=sample_rate,channels -of json "$file" >/dev/null
  if [ "$mode" = guard ]; then
    "$ffmpeg_bin" -v error -nostdin -y -i "$file" -map 0:a:0 -vn -c:a pcm_f32le -f f32le "$work/loudness.f32"
    rm -f "$work/loudness.f32"
  fi
  "$ffmpeg_bin" "${decode[@]}" 2>"$work/bare-stderr.txt"
  rm -f "$work/waveform.f32"
}

printf '%-5s %-24s %9s %9s %7s %12s %6s\n' file case analysis bare ratio "peak memory" pauses
for file in "$mp4" "$m4a"; do
  cat "$file" >/dev/null  # both runs read from the page cache
  for entry in "guard|fixed -35 dB (guard)|" "fixed40|fixed -40 dB|--threshold -40" "adaptive|adaptive|--adaptive"; do
    IFS='|' read -r mode label options <<<"$entry"
    analysis= reference=
    for _ in $(seq "$repeats"); do
      start=$(now)
      # shellcheck disable=SC2086
      "$tool" "$file" $options >"$work/project.json" 2>"$work/progress.txt"
      end=$(now)
      analysis=$(python3 -c "print(min($end - $start, ${analysis:-1e9}))")
      prepare_bare "$file" "$mode" "$work/project.json"
      start=$(now)
      run_bare "$file" "$mode"
      end=$(now)
      reference=$(python3 -c "print(min($end - $start, ${reference:-1e9}))")
    done
    peak=$(sed -n 's/^peak memory: \([0-9]*\) kB$/\1/p' "$work/progress.txt")
    pauses=$(python3 -c "import json; print(len(json.load(open('$work/project.json'))['cuts']))")
    printf '%-5s %-24s %8.2fs %8.2fs %7.3f %9.1f MB %6s\n' "${file##*.}" "$label" "$analysis" "$reference" \
      "$(python3 -c "print($analysis / $reference)")" "$(python3 -c "print($peak / 1024)")" "$pauses"
  done
done
