#!/bin/sh
# Renders 24 minutes of 192 kHz stereo to 64-bit float WAV, 4.4 GB of audio,
# and checks that the file is RF64 with the whole length in it: a plain RIFF
# header would wrap its 32-bit sizes and readers would see 41.9 s. Needs
# about 6 GB free in the scratch folder and a minute or two; not part of the
# test command for that reason.
#
#   bench/rf64-render.sh [build dir] [scratch folder]
set -eu
BUILD=${1:-build/release}
SCRATCH=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/kestrune-rf64-XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT INT TERM
RENDER="$BUILD/tools/render/kestrune-render"
SECONDS_LONG=1440
RATE=192000

# The input: 16-bit stereo, a tone, 1.1 GB.
python3 - "$SCRATCH/long.wav" "$RATE" "$SECONDS_LONG" <<'EOF'
import math, struct, sys
path, rate, seconds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
second = b"".join(struct.pack("<hh", int(8000 * math.sin(2 * math.pi * 110 * n / rate)),
                              int(6000 * math.sin(2 * math.pi * 220 * n / rate))) for n in range(rate))
data = rate * seconds * 4
with open(path, "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 36 + data) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 2, rate, rate * 4, 4, 16) + b"data" + struct.pack("<I", data))
    for _ in range(seconds):
        f.write(second)
EOF

"$RENDER" "$SCRATCH/long.wav" -o "$SCRATCH/out.wav" --sample-format double --no-pictures --block 4096 |
  grep -E "time:|audio:"

# Read it back with libsndfile and look at the header itself.
python3 - "$SCRATCH/out.wav" "$RATE" "$SECONDS_LONG" <<'EOF'
import ctypes, os, struct, sys
path, rate, seconds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
expected = rate * seconds

class Info(ctypes.Structure):
    _fields_ = [("frames", ctypes.c_int64), ("samplerate", ctypes.c_int), ("channels", ctypes.c_int),
                ("format", ctypes.c_int), ("sections", ctypes.c_int), ("seekable", ctypes.c_int)]
sndfile = ctypes.CDLL("libsndfile.so.1")
sndfile.sf_open.restype = ctypes.c_void_p
info = Info()
handle = sndfile.sf_open(path.encode(), 0x10, ctypes.byref(info))
if not handle:
    sys.exit("libsndfile cannot open the output")
sndfile.sf_close(ctypes.c_void_p(handle))
with open(path, "rb") as f:
    head = f.read(64)
size = os.path.getsize(path)
magic = head[:4].decode()
data_size = struct.unpack("<Q", head[28:36])[0] if magic == "RF64" else None
print(f"file {size} bytes, container {magic}, ds64 data size {data_size}, "
      f"libsndfile: {info.frames} frames = {info.frames / info.samplerate:.1f} s, format 0x{info.format:x}")
ok = magic == "RF64" and (info.format & 0x0FFF0000) == 0x220000 and info.frames == expected \
    and data_size == expected * 16 and size > 1 << 32
print("RF64 check:", "passed" if ok else "FAILED")
sys.exit(0 if ok else 1)
EOF
