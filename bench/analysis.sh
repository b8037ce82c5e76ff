#!/usr/bin/env bash
# Times the pause analysis against a peer program and against the bare child processes it runs.
#
# For each length in MINUTES (default "5 20 60 180") it generates (or reuses) a speech recording:
# synthesised speech with pauses over faint room noise, AAC at 48 kHz stereo, once in an M4A and
# once in an MP4 with a small picture stream (the video road: -copyts and the resampling chain).
#
# First, side by side on the M4A in paired rounds (Talvian, auto-editor, bare silencedetect; the
# round repeated REPEATS times, default 2): talvian-analyze with the default options (fixed at
# -35 dB, where the quiet-recording guard runs), auto-editor 22w52a's analysis alone (Debian's
# package "auto-editor", installed when missing; its cache $TMPDIR/ae-22w52a removed before each
# of its runs), and the bare "ffmpeg -af silencedetect" run of the same file. It prints Talvian
# ÷ auto-editor and Talvian ÷ silencedetect (medians of the rounds' ratios), the peak memory of
# each program (the largest process of its tree), and the peak size of Talvian's temporary folder.
# Targets: <= 1.0 x auto-editor at 180 minutes and <= 1.1 x at 60, <= 1.15 x silencedetect at 60,
# <= 200 MB temporary at 180 minutes, talvian-analyze's own peak memory <= 80 MB.
#
# Then, for each file, talvian-analyze in three cases (fixed at -35 dB with the guard, fixed at
# -40 dB, adaptive) against the same ffprobe and ffmpeg command lines run bare one after the other,
# with talvian-analyze's own peak memory.
#
# Needs espeak-ng, sox, ffmpeg and a build (cmake --preset default && cmake --build --preset default).
#
#   bench/analysis.sh                 # 5, 20, 60 and 180 minutes
#   MINUTES=60 bench/analysis.sh      # one length
#   REPEATS=3 bench/analysis.sh       # three paired rounds; the per-case times are the best of three
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
tool=${TALVIAN_ANALYZE:-$root/build/bin/talvian-analyze}
lengths=${MINUTES:-5 20 60 180}
repeats=${REPEATS:-2}
cache=${TALVIAN_BENCH_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/talvian-bench}
measure=$root/bench/measure-run.py
[ -x "$tool" ] || { echo "missing $tool: build the project first" >&2; exit 1; }
mkdir -p "$cache"

if ! command -v auto-editor >/dev/null; then
  echo "installing auto-editor …" >&2
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq auto-editor >/dev/null
fi
peer_cache=${TMPDIR:-/tmp}/ae-22w52a

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_recording() {
  local minutes=$1 m4a=$2 mp4=$3
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

now() { date +%s.%N; }
ffmpeg_bin=$(command -v ffmpeg)
ffprobe_bin=$(command -v ffprobe)

# The bare reference: the analysis's own child command lines, prepared from the project the
# analysis wrote and then timed alone, one after the other.
prepare_bare() {
  local file=$1 mode=$2 project=$3
  local duration channels rate chain=()
  read -r duration channels hasvideo threshold < <(python3 - "$project" <<'PY'
import json, sys
p = json.load(open(sys.argv[1]))
print(repr(float(p["info"]["duration"])), 0, "1" if p["info"]["hasVideo"] else "0",
      repr(float(p.get("effectiveThresholdDB", p["options"]["thresholdDB"]))))
PY
)
  channels=$("$ffprobe_bin" -v error -select_streams a:0 -show_entries stream=channels -of csv=p=0 "$file")
  tail_from=$(python3 -c "print(f'{max($duration - 5.5, 0):.6f}')")
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

# The analysis's children: one probe, the short look at a video's last packets, and the decode
# (with the guard, the shared decode whose first output is the full-rate sound on standard output;
# for a quiet recording the main decode once more at the lowered threshold).
run_bare() {
  local file=$1 mode=$2
  "$ffprobe_bin" -v error -show_format -show_streams -of json "$file" >/dev/null
  [ "$hasvideo" = 1 ] && "$ffprobe_bin" -v error -select_streams a:0 -read_intervals "$tail_from%" \
    -show_entries packet=pts_time,duration_time -of json "$file" >/dev/null
  if [ "$mode" = guard ]; then
    local shared=("${decode[@]}")
    local at=0
    for i in "${!shared[@]}"; do [ "${shared[$i]}" = -i ] && at=$((i + 2)); done
    shared=("${shared[@]:0:$at}" -map 0:a:0 -vn -c:a pcm_f32le -flush_packets 0 -f f32le pipe:1 "${shared[@]:$at}")
    "$ffmpeg_bin" "${shared[@]}" 2>"$work/bare-stderr.txt" >/dev/null
    if [ "$threshold" != "-35.0" ]; then "$ffmpeg_bin" "${decode[@]}" 2>"$work/bare-stderr.txt"; fi
  else
    "$ffmpeg_bin" "${decode[@]}" 2>"$work/bare-stderr.txt"
  fi
  rm -f "$work/waveform.f32"
}

median() { python3 -c "import statistics, sys; print(statistics.median(float(v) for v in sys.argv[1:]))" "$@"; }

# Talvian, auto-editor and the bare silencedetect run on one file, in paired rounds.
compare_peers() {
  local minutes=$1 file=$2
  local talvian_ratios=() detect_ratios=() t_times=() a_times=() s_times=() t_peak=0 a_peak=0 temp_peak=0
  for _ in $(seq "$repeats"); do
    rm -rf "$work/talvian-tmp" && mkdir -p "$work/talvian-tmp"
    read -r t t_mem t_temp < <(TMPDIR=$work/talvian-tmp "$measure" --watch "$work/talvian-tmp" \
      --out "$work/peer-project.json" -- "$tool" "$file")
    rm -rf "$peer_cache"
    read -r a a_mem _ < <("$measure" -- auto-editor "$file" --export json -o "$work/peer.json" --no-open \
      --progress none)
    read -r d _ _ < <("$measure" -- "$ffmpeg_bin" -hide_banner -nostdin -i "$file" -map 0:a:0 -vn \
      -af silencedetect=noise=-35dB:d=0.8 -f null -)
    t_times+=("$t") a_times+=("$a") s_times+=("$d")
    talvian_ratios+=("$(python3 -c "print($t / $a)")") detect_ratios+=("$(python3 -c "print($t / $d)")")
    t_peak=$((t_mem > t_peak ? t_mem : t_peak)) a_peak=$((a_mem > a_peak ? a_mem : a_peak))
    temp_peak=$((t_temp > temp_peak ? t_temp : temp_peak))
  done
  printf '%5s min %8.2fs %8.2fs %8.2fs %9.3f %9.3f %9.1f MB %9.1f MB %9.1f MB\n' "$minutes" \
    "$(median "${t_times[@]}")" "$(median "${a_times[@]}")" "$(median "${s_times[@]}")" \
    "$(median "${talvian_ratios[@]}")" "$(median "${detect_ratios[@]}")" \
    "$(python3 -c "print($t_peak / 1024)")" "$(python3 -c "print($a_peak / 1024)")" \
    "$(python3 -c "print($temp_peak / 1e6)")"
}

# talvian-analyze in its three cases against its own children run bare.
compare_cases() {
  local file=$1
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
}

for minutes in $lengths; do
  m4a=$cache/speech-${minutes}min.m4a
  mp4=$cache/speech-${minutes}min.mp4
  if [ ! -s "$mp4" ] || [ ! -s "$m4a" ]; then
    echo "generating a ${minutes}-minute recording in $cache …" >&2
    make_recording "$minutes" "$m4a" "$mp4"
  fi
done

echo "Talvian (default options) beside auto-editor $(auto-editor --version | head -n1 | cut -d' ' -f1) and the bare silencedetect run, M4A, median of $repeats paired rounds"
printf '%9s %9s %9s %9s %9s %9s %12s %12s %12s\n' length Talvian peer detect "÷peer" "÷detect" \
  "Talvian mem" "peer mem" "temp peak"
for minutes in $lengths; do
  m4a=$cache/speech-${minutes}min.m4a
  cat "$m4a" >/dev/null
  compare_peers "$minutes" "$m4a"
done

for minutes in $lengths; do
  echo
  echo "${minutes} minutes: talvian-analyze against its own children run bare (best of $repeats)"
  printf '%-5s %-24s %9s %9s %7s %12s %6s\n' file case analysis bare ratio "peak memory" pauses
  for file in "$cache/speech-${minutes}min.mp4" "$cache/speech-${minutes}min.m4a"; do
    compare_cases "$file"
  done
done
