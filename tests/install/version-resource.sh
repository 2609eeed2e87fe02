#!/usr/bin/env bash
# The Windows modules carry a version resource: the fixed part holds file
# and product version <version> (VS_FIXEDFILEINFO after its signature
# 0xFEEF04BD), the string table the product name, company and versions.
#   version-resource.sh <version> <objcopy> <module>...
# Only the resource section is read: the modules carry some 30 MB of images.
set -euo pipefail
version="$1" objcopy="$2"; shift 2
IFS=. read -r major minor patch <<<"$version"
le16() { printf '%02x%02x' $(($1 & 255)) $(($1 >> 8)); }
# signature, structure version 1.0, then FileVersionMS/LS, ProductVersionMS/LS
fixed="bd04effe00000100$(le16 "$minor")$(le16 "$major")0000$(le16 "$patch")$(le16 "$minor")$(le16 "$major")0000$(le16 "$patch")"
failures=0
resources="${TMPDIR:-/tmp}/version-rsrc.$$"
trap 'rm -f "$resources"' EXIT
for module in "$@"; do
  "$objcopy" -O binary --only-section=.rsrc "$module" "$resources" ||
    { echo "FAIL: $module: no resource section" >&2; failures=$((failures + 1)); continue; }
  # grep -c reads to the end, so no stage of the pipe dies of a closed pipe.
  if ! od -An -v -tx1 "$resources" | tr -d ' \n' | grep -c "$fixed" >/dev/null; then
    echo "FAIL: $module: no version resource for $version" >&2
    failures=$((failures + 1))
  fi
  strings -el "$resources" >"${TMPDIR:-/tmp}/version-strings.$$"
  for expected in CompanyName Marlowind ProductName Kestrune FileVersion ProductVersion "$version"; do
    grep -qx "$expected" "${TMPDIR:-/tmp}/version-strings.$$" ||
      { echo "FAIL: $module: '$expected' missing from the version strings" >&2; failures=$((failures + 1)); }
  done
  rm -f "${TMPDIR:-/tmp}/version-strings.$$"
done
[ "$failures" -eq 0 ] && echo "version resources checked: $*"
exit $((failures > 0))
