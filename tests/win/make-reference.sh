#!/usr/bin/env bash
# Writes the Linux build's reference (golden audio cases, image pixel hashes)
# into a fresh folder. Without the native tool the folder stays empty and the
# Windows tests that compare with Linux report themselves skipped.
set -u
tool="$1"
out="$2"
rm -rf "$out"
mkdir -p "$out"
if [ -z "$tool" ] || [ ! -x "$tool" ]; then
  echo "make-reference: no native kestrune-linux-reference given; Linux comparisons are skipped"
  exit 0
fi
exec "$tool" "$out"
