#!/usr/bin/env bash
# The release archive and the Debian package of one processor, read without
# running anything from them (a cross-build's cannot run here): the file
# names that carry the processor (the archive's, the package's, the VST3
# bundle's Contents/<processor>-linux folder), the package's Architecture,
# and the ELF machine of every module and library inside both.
#   release-file-names.sh <archive> <deb> <version> <processor> <Debian arch> <ELF machine>
# e.g. ... Kestrune-1.2.0-linux-aarch64.tar.gz kestrune_1.2.0_arm64.deb 1.2.0 aarch64 arm64 AArch64
set -euo pipefail
archive="$1" deb="$2" version="$3" processor="$4" debArch="$5" machine="$6"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

name="Kestrune-$version-linux-$processor"
[ "$(basename "$archive")" = "$name.tar.gz" ] || fail "the archive is named $(basename "$archive"), not $name.tar.gz"
[ "$(basename "$deb")" = "kestrune_${version}_${debArch}.deb" ] ||
  fail "the package is named $(basename "$deb"), not kestrune_${version}_${debArch}.deb"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$debArch" ] || fail "Architecture: $(dpkg-deb -f "$deb" Architecture)"

# Each decompressed once (the package's data is most of the time here).
gzip -dc "$archive" >"$work/archive.tar"
dpkg-deb --fsys-tarfile "$deb" >"$work/deb.tar"

# The VST3 bundle holds its module in this processor's folder and no other.
tar -tf "$work/archive.tar" | sed 's|/$||' >"$work/archive-files"
tar -tf "$work/deb.tar" | sed -e 's|^\./||' -e 's|/$||' >"$work/deb-files"
check_vst3_folder() {  # check_vst3_folder <file list> <bundle path>
  grep -qx "$2/Contents/$processor-linux/Kestrune.so" "$1" || fail "$(basename "$1"): no $2/Contents/$processor-linux/Kestrune.so"
  local others
  others="$(grep -E "^$2/Contents/[^/]+-linux$" "$1" | grep -vx "$2/Contents/$processor-linux" || true)"
  [ -z "$others" ] || fail "$(basename "$1"): another processor's folder: $others"
}
check_vst3_folder "$work/archive-files" "$name/Kestrune.vst3"
check_vst3_folder "$work/deb-files" "usr/lib/vst3/Kestrune.vst3"

# Every ELF file of both is for this processor: one readelf reads them all
# and names each file it can read as ELF.
mkdir "$work/archive" "$work/deb"
tar -xf "$work/archive.tar" -C "$work/archive"
tar -xf "$work/deb.tar" -C "$work/deb"
{ find "$work/archive" "$work/deb" -type f -print0 | LC_ALL=C xargs -0 readelf -h 2>/dev/null || true; } |
  awk '/^File: / { file = substr($0, 7) } /^ *Machine:/ { sub(/^ *Machine: */, ""); print file "\t" $0 }' >"$work/machines"
count="$(wc -l <"$work/machines")"
while IFS=$'\t' read -r file found; do
  [ "$found" = "$machine" ] || fail "${file#"$work"/}: ELF machine $found, not $machine"
done <"$work/machines"
# The VST2, VST3, LV2 and LV2 editor modules in each, and CLAP where built.
[ "$count" -ge 8 ] || fail "only $count ELF files in the archive and the package"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "$name.tar.gz and kestrune_${version}_${debArch}.deb: $count $machine modules, names checked"
