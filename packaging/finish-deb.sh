#!/bin/sh
# Finishes the package CPack made, in place:
# - no maintainer scripts: CPack adds ldconfig calls for any shared object
#   under /usr/lib, but the modules are plug-ins that hosts load by path,
#   not libraries programs link against; and a package without a postrm
#   leaves nothing behind (state "rc") once removed;
# - Installed-Size as dpkg-gencontrol counts it (each file's size in KiB,
#   rounded up, and 1 for each folder and link): CPack counts each link to
#   the editor images at the size of the images it points to.
#   finish-deb.sh <package>
set -eu
deb="$1"
tree="$deb.tree"
rm -rf "$tree"
dpkg-deb -R "$deb" "$tree"
rm -f "$tree/DEBIAN/postinst" "$tree/DEBIAN/postrm"
size="$(cd "$tree" && find . -mindepth 1 -path ./DEBIAN -prune -o \( -type f -printf '%s\n' -o -printf '1024\n' \) |
  awk '{ kib += int(($1 + 1023) / 1024) } END { print kib }')"
sed -i "s/^Installed-Size: .*/Installed-Size: $size/" "$tree/DEBIAN/control"
dpkg-deb --root-owner-group -b "$tree" "$deb" >/dev/null
rm -rf "$tree"
