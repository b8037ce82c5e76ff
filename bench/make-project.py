#!/usr/bin/env python3
"""Writes a review project for SOURCE that removes every pause silencedetect finds.

Usage: make-project.py SOURCE PROJECT.quenlo.json
The pauses (below -35 dB for at least 0.8 s) are padded by 0.3 s on each side, as the
analysis does by default. Prints the project's kept duration in seconds.
"""
import json
import os
import re
import subprocess
import sys
import uuid

source, project_path = os.path.abspath(sys.argv[1]), sys.argv[2]
probe = json.loads(subprocess.run(
    ["ffprobe", "-v", "error", "-show_format", "-of", "json", source],
    check=True, capture_output=True, text=True).stdout)
duration = float(probe["format"]["duration"])
log = subprocess.run(
    ["ffmpeg", "-hide_banner", "-nostdin", "-i", source, "-map", "0:a:0",
     "-af", "silencedetect=noise=-35dB:d=0.8", "-f", "null", "-"],
    check=True, capture_output=True, text=True).stderr
starts = [float(v) for v in re.findall(r"silence_start: (\S+)", log)]
ends = [float(v) for v in re.findall(r"silence_end: (\S+)", log)]
padding = 0.3
cuts = []
for start, end in zip(starts, ends):
    a = start + padding if start > 0.01 else 0.0
    b = end - padding if end < duration - 0.01 else duration
    if b - a >= 0.08:
        cuts.append({"id": str(uuid.uuid4()).upper(), "start": a, "end": b, "remove": True})
removed = sum(c["end"] - c["start"] for c in cuts)
stat = os.stat(source)
project = {
    "version": 1, "source": source, "sourceBytes": stat.st_size,
    "modifiedAt": stat.st_mtime_ns / 1e9,
    "info": {"duration": duration, "width": 0, "height": 0, "hasVideo": False, "hasAudio": True,
             "audioTracks": 1, "bytes": stat.st_size, "frameRate": 30.0},
    "options": {"mode": "fixed", "thresholdDB": -35.0, "minimumSilence": 0.8, "padding": padding},
    "cuts": cuts, "waveform": [],
}
with open(project_path, "w") as f:
    json.dump(project, f, indent=2, sort_keys=True)
print(f"{len(cuts)} {duration - removed:.6f}")
