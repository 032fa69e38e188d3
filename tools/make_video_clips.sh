#!/usr/bin/env bash
# Makes the video clips the media tests decode, with an encoder the project
# did not write (Debian's ffmpeg), and that encoder's own decode of each clip
# to raw 4:2:0 planes to compare against. Run once; the outputs are checked in
# under tests/media/clips, so the tests never need ffmpeg.
#   tools/make_video_clips.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/tests/media/clips
mkdir -p "$out"
command -v ffmpeg >/dev/null || { echo "make_video_clips.sh: needs ffmpeg (apt-get install ffmpeg)" >&2; exit 1; }
ff() { ffmpeg -nostdin -v error -y "$@"; }

# Sorenson Spark in FLV: 12 frames of a test picture panned by a pixel and a
# half a frame each way, so inter frames carry half-pel motion; key frames and
# inter frames; one clip a whole number of macroblocks, one not (58 x 42, its
# chroma 29 x 21).
spark() {  # name size gop quality
  local w=${2%x*} h=${2#*x}
  ff -f lavfi -i "testsrc2=size=$((w * 2 + 48))x$((h * 2 + 36)):rate=12" \
    -vf "crop=$((w * 2)):$((h * 2)):x='n*3':y='n*3',scale=$w:$h" \
    -frames:v 12 -c:v flv1 -g "$3" -q:v "$4" "$out/$1.flv"
  ff -i "$out/$1.flv" -f rawvideo -pix_fmt yuv420p "$out/$1.yuv"
}
spark spark_64x48 64x48 6 4
spark spark_58x42 58x42 8 3

# SWF timelines carrying a video stream (DefineVideoStream, then a VideoFrame
# and a PlaceObject ratio per frame), Screen Video and Sorenson, panned as
# above so every frame differs, with the encoder's own decode to RGB.
embedded() {  # name codec size frames
  local w=${3%x*} h=${3#*x}
  ff -f lavfi -i "testsrc2=size=$((w * 2 + 48))x$((h * 2 + 36)):rate=12" \
    -vf "crop=$((w * 2)):$((h * 2)):x='n*3':y='n*3',scale=$w:$h" \
    -frames:v "$4" -c:v "$2" -g 4 "$out/$1.swf"
  ff -i "$out/$1.swf" -f rawvideo -pix_fmt rgb24 "$out/$1.rgb"
}
embedded embedded_flashsv_50x38 flashsv 50x38 6
embedded embedded_spark_58x42 flv1 58x42 6

# Fuzz seeds from the Sorenson clips: the packets of a key frame and the inter
# frames after it, each behind a 16-bit length (fuzz_sorenson's input), and
# clips whole for the FLV reader, the playback object and the movie parser.
python3 - "$out" "$root/tests/fuzz/seeds" <<'PY'
import struct, sys
from pathlib import Path
clips, seeds = Path(sys.argv[1]), Path(sys.argv[2])
(seeds / "fuzz_sorenson").mkdir(parents=True, exist_ok=True)
for name in ("spark_64x48", "spark_58x42"):
    flv = (clips / f"{name}.flv").read_bytes()
    at, packets = 9 + 4, []
    while at + 11 <= len(flv):
        kind, size = flv[at], int.from_bytes(flv[at + 1:at + 4], "big")
        if kind == 9:
            packets.append(flv[at + 12:at + 11 + size])  # past the tag header and the video header byte
        at += 11 + size + 4
    seed = b"".join(struct.pack(">H", len(p)) + p for p in packets[:4])
    (seeds / "fuzz_sorenson" / f"{name}_4frames").write_bytes(seed)
(seeds / "fuzz_flv" / "spark_58x42.flv").write_bytes((clips / "spark_58x42.flv").read_bytes())
(seeds / "fuzz_video_playback" / "spark_64x48.flv").write_bytes((clips / "spark_64x48.flv").read_bytes())
(seeds / "fuzz_swf_parse" / "embedded_spark_58x42.swf").write_bytes((clips / "embedded_spark_58x42.swf").read_bytes())
PY
