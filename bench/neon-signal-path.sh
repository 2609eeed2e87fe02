#!/usr/bin/env bash
# What the aarch64 compiler made of the signal path's narrow (two-lane) loop:
# the up- and down-sampling Bessel step, left and right together, should be
# NEON arithmetic on v registers (fmul/fadd/fsub/fcmge ... .2d), and nothing
# in the signal path may be a fused multiply-add (fmla, fmls, fmadd, fmsub,
# fnmadd, fnmsub), which would round differently from the x86-64 build.
# Speed on ARM is not measured here (the emulator's times mean nothing);
# this shows the instructions instead.
#   bench/neon-signal-path.sh [aarch64 build folder]   (default build/arm64)
# Prints the Bessel step's disassembly and the counts of vector and scalar
# floating-point instructions; exits 1 if a fused operation is found or the
# step is not vector code.
set -euo pipefail
build="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/arm64}"
object="$build/effect/CMakeFiles/kestrune_effect_dsp.dir/SignalPath.cpp.o"
objdump=aarch64-linux-gnu-objdump
[ -f "$object" ] || { echo "no $object: build kestrune_effect_dsp in $build first" >&2; exit 2; }

listing="$(mktemp)"
trap 'rm -f "$listing"' EXIT
"$objdump" -d -C --no-show-raw-insn "$object" >"$listing"

# The Bessel step as the loop runs it when no flush can act (speculative),
# inlined into the loop or, where the compiler kept it apart, on its own.
step="$(awk '/^[0-9a-f]+ <.*BesselStep<true, false>/ {on = 1} on && /^$/ {exit} on' "$listing")"
alone=1
if [ -z "$step" ]; then
  alone=0
  step="$(awk '/^[0-9a-f]+ <.*SignalPathKernels<.*NoTally.*Baseline/ {on = 1} on && /^$/ {exit} on' "$listing")"
fi
echo "$step" | head -60

count() { grep -cE "$1" <<<"$2" || true; }
arithmetic='[[:space:]](fmul|fadd|fsub|fdiv|fsqrt|fcm[a-z]+|fmin|fmax)[[:space:]]'
vector_ops=$(count "$arithmetic+v[0-9]+\.2d" "$step")
scalar_ops=$(count "$arithmetic+d[0-9]+," "$step")
fused_all=$(count '[[:space:]](fmla|fmls|fmadd|fmsub|fnmadd|fnmsub)[[:space:]]' "$(cat "$listing")")
echo "Bessel step: $vector_ops two-lane (.2d) operations, $scalar_ops scalar double operations"
echo "whole signal path: $fused_all fused multiply-add instructions;" \
  "$(count "$arithmetic+v[0-9]+\.2d" "$(cat "$listing")") two-lane and" \
  "$(count "$arithmetic+d[0-9]+," "$(cat "$listing")") scalar double operations"

[ "$fused_all" -eq 0 ] || { echo "FAIL: fused multiply-adds in the signal path"; exit 1; }
# A 10th-order step is 11 multiplies and 10 additions per lane pair; on its
# own it holds no scalar double arithmetic at all.
[ "$vector_ops" -ge 21 ] && { [ "$alone" -eq 0 ] || [ "$scalar_ops" -eq 0 ]; } ||
  { echo "FAIL: the Bessel step is not two-lane NEON code"; exit 1; }
echo "the narrow path's Bessel step is NEON code, and nothing is fused"
