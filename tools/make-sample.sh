#!/usr/bin/env bash
# Makes Talvian/Resources/Samples/sample-talk.mp4 from scratch: synthesised Mandarin speech
# with pauses from 0.3 s to 3 s between the sentences, a quiet stretch at the start and the
# end, a simple moving picture and one AAC track. Needs espeak-ng, sox and ffmpeg.
set -euo pipefail
cd "$(dirname "$0")/.."
out=Talvian/Resources/Samples/sample-talk.mp4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Each sentence is followed by the pause (seconds) that comes after it.
sentences=(
  "大家好，欢迎收听今天的节目。|0.6"
  "很多人在录音的时候，会有不少停顿。|0.3"
  "这些停顿有的很短，有的却很长。|2.0"
  "如果把太长的停顿剪掉，听起来就会更加流畅。|0.8"
  "当然，有些停顿是为了强调，应该保留下来。|3.0"
  "先听一听原来的样子，再听一听剪掉以后的样子。|1.5"
  "原来的文件不会被改动。|2.5"
  "好的，今天就先说到这里。|0.35"
  "谢谢大家，我们下次再见。|0"
)

rate=48000
sox -n -r $rate -c 1 -b 16 "$work/lead.wav" trim 0 2.5
parts=("$work/lead.wav")
i=0
for entry in "${sentences[@]}"; do
  text=${entry%|*}
  pause=${entry##*|}
  espeak-ng -v cmn -s 230 -w "$work/raw$i.wav" "$text"
  # espeak's own leading and trailing silence is trimmed so that the pauses are exactly as listed.
  sox "$work/raw$i.wav" -r $rate -c 1 -b 16 "$work/s$i.wav" silence 1 0.02 0.5% reverse silence 1 0.02 0.5% reverse
  parts+=("$work/s$i.wav")
  if [ "$pause" != "0" ]; then
    sox -n -r $rate -c 1 -b 16 "$work/p$i.wav" trim 0 "$pause"
    parts+=("$work/p$i.wav")
  fi
  i=$((i + 1))
done
sox -n -r $rate -c 1 -b 16 "$work/tail.wav" trim 0 3.0
parts+=("$work/tail.wav")
# A faint room tone keeps the quiet parts from being digital silence, as in a real recording.
sox "${parts[@]}" "$work/speech.wav"
duration=$(soxi -D "$work/speech.wav")
sox -n -r $rate -c 1 -b 16 "$work/room.wav" synth "$duration" pinknoise vol 0.002
sox -m "$work/speech.wav" "$work/room.wav" "$work/talk.wav" norm -3

mkdir -p "$(dirname "$out")"
rm -f "$out"
ffmpeg -nostdin -hide_banner -loglevel error \
  -f lavfi -i "color=c=0x1c2330:s=640x360:r=25:d=${duration}" \
  -i "$work/talk.wav" \
  -filter_complex "[0:v]drawbox=x='mod(t*80,560)':y=150:w=80:h=60:color=0x4fa3ff:t=fill,drawbox=x=40:y=300:w='min(560,t*560/${duration})':h=8:color=0x8fd19e:t=fill[v]" \
  -map "[v]" -map 1:a -c:v libx264 -preset veryslow -crf 30 -pix_fmt yuv420p \
  -c:a aac -b:a 96k -ac 1 -shortest -movflags +faststart "$out"
ls -l "$out"
ffprobe -v error -show_entries format=duration -of default=nw=1 "$out"
