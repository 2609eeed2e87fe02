#!/usr/bin/env bash
# The Linux ways to install Kestrune, each into a temporary folder:
#   1. cmake --install per user (prefix = HOME) and system-wide (--prefix /usr
#      under DESTDIR);
#   2. the release archive's install.sh into a temporary HOME, an upgrade
#      over it, and --uninstall (also from an empty HOME: no folder left
#      but the one holding the user's file), the user's own presets with
#      factory names kept, and a full disk changing nothing;
#   3. the Debian package's file list and control fields, and its modules.
# Every installed module is the build's own, and loads: kestrune-render
# renders a factory preset through it.
#   linux-install.sh <build dir> <archive> <deb> <kestrune-render>
set -euo pipefail
build="$1" archive="$2" deb="$3" render="$4"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
need_file() { [ -f "$1" ] || fail "missing $1"; }
same_file() { cmp -s "$1" "$2" || fail "$2 differs from $1"; }
no_path() { [ ! -e "$1" ] || fail "$1 should not exist"; }

modules="$build/modules"
vst3_so="Kestrune.vst3/Contents/x86_64-linux/Kestrune.so"
presets=("$build"/presets/vst3/*.vstpreset)
fxps=("$build"/presets/vst2/*.fxp)
[ ${#presets[@]} -ge 5 ] && [ ${#presets[@]} -eq ${#fxps[@]} ] || fail "factory presets missing in $build/presets"

# The editor's 2x and 3x images, the build's own, beside each module: the
# VST3 bundle's Contents/Resources, the LV2 bundle, Kestrune.images beside the
# VST2 and the CLAP module. <copies> is how many real pack files lie under <root>: a copy
# per bundle (per user), or one set linked from each (system-wide).
packs=("$build"/graphics/scaled-images/Kestrune@{2,3}x.pack)
check_packs() {  # check_packs <VST3 folder> <VST2 folder> <LV2 folder> <CLAP folder> <root> <copies>
  for p in "${packs[@]}"; do
    for place in "$1/Kestrune.vst3/Contents/Resources" "$2/Kestrune.images" "$3/Kestrune.lv2" "$4/Kestrune.images"; do
      same_file "$p" "$place/$(basename "$p")"
    done
  done
  local n
  n="$(find "$5" -type f -name 'Kestrune@*x.pack' | wc -l)"
  [ "$n" -eq "$6" ] || fail "$n image pack files under $5, expected $6"
}

# Renders a second of the embedded material through an installed module with
# an installed preset; the tool checks that the module is Kestrune.
renders() {  # renders <vst3|vst2|clap> <module> <preset>
  "$render" --format "$1" --module "$2" --preset "$3" --no-pictures --quiet \
    -o "$work/render-check.wav" >/dev/null 2>"$work/render.err" ||
    fail "kestrune-render could not use $2 with $3: $(cat "$work/render.err")"
}

# An installed LV2 bundle holds the given bundle's files, and lilv finds the
# plug-in and its presets in the folder it was installed into.
check_lv2() {  # check_lv2 <installed bundle> <bundle it must equal>
  diff -r "$2" "$1" >&2 || fail "$1 differs from $2"
  LV2_PATH="$(dirname "$1")" lv2info urn:marlowind:kestrune >"$work/lv2info.out" 2>&1 &&
    grep -q "Drum Bus Glue" "$work/lv2info.out" || fail "lilv does not list Kestrune with its presets from $1"
}

# Per-user and system-wide layouts, as checked for every install.
check_user_layout() {  # check_user_layout <home> <VST3 module> <VST2 module> <LV2 bundle> <CLAP module> [<user's preset>]
  local home="$1" p
  same_file "$2" "$home/.vst3/$vst3_so"
  same_file "$3" "$home/.vst/Kestrune.so"
  check_lv2 "$home/.lv2/Kestrune.lv2" "$4"
  same_file "$5" "$home/.clap/Kestrune.clap"
  no_path "$home/.lxvst/Kestrune.so"   # hosts searching both would list two
  check_packs "$home/.vst3" "$home/.vst" "$home/.lv2" "$home/.clap" "$home" 8
  for p in "${presets[@]}"; do
    [ "$(basename "$p")" = "${6:-}" ] || same_file "$p" "$home/.vst3/presets/Marlowind/Kestrune/$(basename "$p")"
  done
  for p in "${fxps[@]}"; do same_file "$p" "$home/.local/share/kestrune/presets/$(basename "$p")"; done
  renders vst3 "$home/.vst3/Kestrune.vst3" "$home/.vst3/presets/Marlowind/Kestrune/$(basename "${presets[1]}")"
  renders vst2 "$home/.vst/Kestrune.so" "$home/.local/share/kestrune/presets/$(basename "${fxps[0]}")"
  renders clap "$home/.clap/Kestrune.clap" "$home/.vst3/presets/Marlowind/Kestrune/$(basename "${presets[2]}")"
}

check_system_layout() {  # check_system_layout <root>/usr
  local usr="$1"
  need_file "$usr/lib/vst3/$vst3_so"
  need_file "$usr/lib/vst/Kestrune.so"
  need_file "$usr/lib/lv2/Kestrune.lv2/Kestrune.so"
  need_file "$usr/lib/clap/Kestrune.clap"
  check_packs "$usr/lib/vst3" "$usr/lib/vst" "$usr/lib/lv2" "$usr/lib/clap" "$usr" 2
  LV2_PATH="$usr/lib/lv2" lv2info urn:marlowind:kestrune >"$work/lv2info.out" 2>&1 &&
    grep -q "Drum Bus Glue" "$work/lv2info.out" || fail "lilv does not list Kestrune with its presets from $usr/lib/lv2"
  no_path "$usr/lib/lxvst"
  for p in "${presets[@]}"; do same_file "$p" "$usr/share/vst3/presets/Marlowind/Kestrune/$(basename "$p")"; done
  for p in "${fxps[@]}"; do same_file "$p" "$usr/share/kestrune/presets/$(basename "$p")"; done
  need_file "$usr/share/doc/kestrune/README.md"
  need_file "$usr/share/doc/kestrune/LICENSE"
  renders vst3 "$usr/lib/vst3/Kestrune.vst3" "$usr/share/vst3/presets/Marlowind/Kestrune/$(basename "${presets[0]}")"
  renders vst2 "$usr/lib/vst/Kestrune.so" "$usr/share/kestrune/presets/$(basename "${fxps[0]}")"
  renders clap "$usr/lib/clap/Kestrune.clap" "$usr/share/vst3/presets/Marlowind/Kestrune/$(basename "${presets[0]}")"
}

echo "== cmake --install, per user"
home="$work/cmake-home"
mkdir -p "$home/.vst3/Kestrune.vst3/Contents/old-arch"   # an older bundle's leftover
mkdir -p "$home/.lv2/Kestrune.lv2/presets"
echo old >"$home/.lv2/Kestrune.lv2/presets/renamed-long-ago.ttl"
HOME="$home" cmake --install "$build" --prefix "$home" >/dev/null
check_user_layout "$home" "$modules/$vst3_so" "$modules/vst2/Kestrune.so" "$modules/Kestrune.lv2" "$modules/Kestrune.clap"
no_path "$home/.vst3/Kestrune.vst3/Contents/old-arch"
no_path "$home/lib"

echo "== cmake --install --prefix /usr"
DESTDIR="$work/root" HOME="$home" cmake --install "$build" --prefix /usr >/dev/null
check_system_layout "$work/root/usr"
same_file "$modules/vst2/Kestrune.so" "$work/root/usr/lib/vst/Kestrune.so"

echo "== release archive: install.sh into a temporary HOME"
name="$(basename "$archive" .tar.gz)"
tar -xzf "$archive" -C "$work"
for f in Kestrune.so Kestrune.vst3/Contents/x86_64-linux/Kestrune.so Kestrune.lv2/Kestrune.so \
  Kestrune.lv2/manifest.ttl Kestrune.clap README.md LICENSE install.sh; do
  need_file "$work/$name/$f"
done
check_packs "$work/$name" "$work/$name" "$work/$name" "$work/$name" "$work/$name" 2
[ -x "$work/$name/install.sh" ] || fail "install.sh is not executable"
# The runtimes the archive says it needs are the newest the modules import.
newest() { objdump -T "$work/$name"/Kestrune.so "$work/$name"/Kestrune.lv2/*.so "$work/$name/$vst3_so" "$work/$name/Kestrune.clap" |
  grep -o "($1_[0-9.]*)" | tr -d '()' | sed "s/^$1_//" | sort -V | tail -n 1; }
glibc="$(newest GLIBC)" glibcxx="$(newest GLIBCXX)"
grep -q "glibc $glibc and libstdc++ with GLIBCXX $glibcxx or later" "$work/$name/README.md" ||
  fail "README does not say the modules need glibc $glibc and GLIBCXX $glibcxx"
grep -q "needs glibc $glibc or later" "$work/$name/install.sh" || fail "install.sh does not check for glibc $glibc"
# Every table of the README renders as one: a row follows a row, or is a
# header after a blank line (or a comment) with the |---| line under it.
awk 'prev !~ /^\|/ && /^\|/ { if ((prev != "" && prev !~ /^<!--.*-->$/) || !((getline next_line) > 0 && next_line ~ /^\|[-:| ]+\|$/))
       { print "README line " NR ": a table row that renders as text: " $0; bad = 1 } }
     { prev = $0 } END { exit bad }' "$work/$name/README.md" >&2 || fail "README has a broken table"

home="$work/archive-home"
vst3_presets="$home/.vst3/presets/Marlowind/Kestrune"
own="$(basename "${presets[0]}")"   # the user's own preset, saved under a factory preset's name
mkdir -p "$vst3_presets" "$home/.vst" "$home/.lxvst" "$home/.lv2/Other.lv2"
echo mine >"$vst3_presets/My Own.vstpreset"
echo mine >"$vst3_presets/$own"
echo other >"$home/.vst/Other.so"
echo old >"$home/.lxvst/Kestrune.so"   # an earlier version's second copy
# On another processor the archive refuses, before anything is made.
mkdir -p "$work/other-machine"
printf '#!/bin/sh\necho aarch64\n' >"$work/other-machine/uname"
chmod +x "$work/other-machine/uname"
before="$(find "$home" | sort)"
if HOME="$home" PATH="$work/other-machine:$PATH" "$work/$name/install.sh" >/dev/null 2>"$work/other.err"; then
  fail "install.sh installed x86-64 modules on an aarch64 machine"
fi
grep -q "for x86-64 Linux; this machine is aarch64" "$work/other.err" || fail "install.sh on aarch64 said: $(cat "$work/other.err")"
[ "$(find "$home" | sort)" = "$before" ] || fail "install.sh on another processor changed $home"
HOME="$home" "$work/$name/install.sh" >"$work/install.out" || fail "install.sh failed"
grep -q "installed: $home/.vst/Kestrune.so" "$work/install.out" || fail "install.sh did not report ~/.vst"
grep -q "installed: $home/.clap/Kestrune.clap" "$work/install.out" || fail "install.sh did not report ~/.clap"
grep -q "kept: $vst3_presets/$own" "$work/install.out" || fail "install.sh did not say it kept $own"
check_user_layout "$home" "$work/$name/$vst3_so" "$work/$name/Kestrune.so" "$work/$name/Kestrune.lv2" "$work/$name/Kestrune.clap" "$own"
HOME="$home" "$work/$name/install.sh" >/dev/null || fail "install.sh over an earlier install failed"
check_user_layout "$home" "$work/$name/$vst3_so" "$work/$name/Kestrune.so" "$work/$name/Kestrune.lv2" "$work/$name/Kestrune.clap" "$own"
ls -a "$home/.vst3" "$home/.vst" "$home/.lv2" "$home/.clap" | grep -q '\.new$' && fail "install.sh left a .new file behind"
changed="$(basename "${presets[1]}")"   # a factory preset the user saved over after the install
echo changed >"$vst3_presets/$changed"
mkdir "$home/.lv2/Kestrune.lv2.new"     # an interrupted earlier install's leftovers
touch "$home/.vst/Kestrune.so.new"
HOME="$home" "$work/$name/install.sh" --uninstall >/dev/null || fail "install.sh --uninstall failed"
no_path "$home/.lv2/Kestrune.lv2.new"
no_path "$home/.vst/Kestrune.so.new"
no_path "$home/.vst3/Kestrune.vst3"
no_path "$home/.vst/Kestrune.so"
no_path "$home/.vst/Kestrune.images"
no_path "$home/.lxvst/Kestrune.so"
no_path "$home/.lv2/Kestrune.lv2"
no_path "$home/.clap"   # made by the install, and empty after it
[ -d "$home/.lv2/Other.lv2" ] || fail "--uninstall removed another plug-in's LV2 bundle"
no_path "$home/.local/share/kestrune/presets"
need_file "$home/.vst3/presets/Marlowind/Kestrune/My Own.vstpreset"
need_file "$home/.vst/Other.so"
[ "$(LC_ALL=C ls "$vst3_presets")" = "$(printf '%s\n' "$own" "$changed" "My Own.vstpreset" | LC_ALL=C sort)" ] || fail "after --uninstall: $(ls "$vst3_presets")"
[ "$(cat "$vst3_presets/$own" "$vst3_presets/$changed")" = "mine
changed" ] || fail "install or --uninstall changed the user's own presets"
[ -d "$home/.lxvst" ] || fail "--uninstall removed ~/.lxvst, which was there before"
no_path "$home/.local/share/kestrune"

echo "== release archive: install.sh into an empty HOME, then --uninstall"
# Folders the install made go when empty; one holding the user's file stays.
home="$work/fresh-home"
mkdir -p "$home"
HOME="$home" "$work/$name/install.sh" >/dev/null || fail "install.sh into an empty HOME failed"
HOME="$home" "$work/$name/install.sh" --uninstall >/dev/null || fail "install.sh --uninstall failed"
left="$(cd "$home" && find . -mindepth 1 | sort | tr '\n' ' ')"
[ -z "$left" ] || fail "after install and --uninstall in an empty HOME: $left"
HOME="$home" "$work/$name/install.sh" >/dev/null || fail "install.sh into an empty HOME failed"
echo mine >"$home/.local/share/kestrune/presets/My Own.fxp"
HOME="$home" "$work/$name/install.sh" --uninstall >/dev/null || fail "install.sh --uninstall failed"
left="$(cd "$home" && find . -mindepth 1 | sort | tr '\n' ' ')"
[ "$left" = "./.local ./.local/share ./.local/share/kestrune ./.local/share/kestrune/presets ./.local/share/kestrune/presets/My Own.fxp " ] ||
  fail "after --uninstall from an empty HOME: $left"

echo "== release archive: install.sh on a full disk"
# A 60 MB file system (a tmpfs in a namespace of our own) holds the VST3
# bundle but not the rest: the install fails, says why in one line and
# leaves the HOME as it was (empty).
full="$work/full"
mkdir -p "$full/disk"
if unshare -rm true 2>/dev/null; then
  unshare -rm sh -c 'mount -t tmpfs -o size=60m tmpfs "$1/disk" && mkdir "$1/disk/home" &&
    { HOME="$1/disk/home" "$2" >/dev/null 2>"$1/err"; echo $? >"$1/status"; } &&
    (cd "$1/disk/home" && find . -mindepth 1) >"$1/left"' sh "$full" "$work/$name/install.sh" ||
    fail "could not run install.sh on a small file system"
else  # no namespaces here: a file size limit fails the copy of the editor images instead
  mkdir "$full/disk/home"
  (trap '' XFSZ; ulimit -f 10000; HOME="$full/disk/home" "$work/$name/install.sh" >/dev/null 2>"$full/err"; echo $? >"$full/status")
  (cd "$full/disk/home" && find . -mindepth 1) >"$full/left"
fi
[ "$(cat "$full/status")" = 1 ] || fail "install.sh on a full disk exited with $(cat "$full/status")"
[ "$(wc -l <"$full/err")" -eq 1 ] && grep -q "nothing was changed: cp: error writing .*: \(No space left on device\|File too large\)" "$full/err" ||
  fail "install.sh on a full disk did not say in one line what failed: $(cat "$full/err")"
[ ! -s "$full/left" ] || fail "install.sh on a full disk left: $(tr '\n' ' ' <"$full/left")"

echo "== Debian package"
dpkg-deb -x "$deb" "$work/deb-root"
dpkg-deb -c "$deb" | awk '{ $1=$2=$3=$4=$5=""; sub(/^ +/, ""); print }' | sed 's|^\./||' | sort >"$work/deb-files"
{
  printf '%s\n' usr/lib/vst3/Kestrune.vst3/Contents/x86_64-linux/Kestrune.so usr/lib/vst/Kestrune.so usr/lib/clap/Kestrune.clap \
    usr/share/doc/kestrune/README.md usr/share/doc/kestrune/LICENSE \
    usr/share/doc/kestrune/copyright usr/share/doc/kestrune/changelog.gz
  for p in "${presets[@]}"; do echo "usr/share/vst3/presets/Marlowind/Kestrune/$(basename "$p")"; done
  for p in "${fxps[@]}"; do echo "usr/share/kestrune/presets/$(basename "$p")"; done
  (cd "$modules" && find Kestrune.lv2 -type f ! -name '*.pack') | sed 's|^|usr/lib/lv2/|'
  for p in "${packs[@]}"; do
    n="$(basename "$p")"
    echo "usr/share/kestrune/images/$n"
    echo "usr/lib/vst3/Kestrune.vst3/Contents/Resources/$n -> ../../../../../share/kestrune/images/$n"
    echo "usr/lib/vst/Kestrune.images/$n -> ../../../share/kestrune/images/$n"
    echo "usr/lib/lv2/Kestrune.lv2/$n -> ../../../share/kestrune/images/$n"
    echo "usr/lib/clap/Kestrune.images/$n -> ../../../share/kestrune/images/$n"
  done
} | sort >"$work/deb-expected"
grep -v -e '/$' -e '^$' "$work/deb-files" >"$work/deb-regular"
diff "$work/deb-expected" "$work/deb-regular" >&2 || fail "the package's files are not the expected ones"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kestrune ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$(basename "$deb" | cut -d_ -f2)" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = amd64 ] || fail "Architecture: $(field Architecture)"
[ -n "$(field Description)" ] || fail "Description empty"
# No maintainer scripts: the modules are no libraries for ldconfig, and a
# postrm would keep the removed package in state rc.
[ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sort | tr '\n' ' ')" = "./ ./control ./md5sums " ] ||
  fail "the package has maintainer scripts: $(dpkg-deb --ctrl-tarfile "$deb" | tar -t | tr '\n' ' ')"
zcat "$work/deb-root/usr/share/doc/kestrune/changelog.gz" 2>/dev/null | head -n 1 | grep -qF "kestrune ($(field Version))" ||
  fail "the changelog's latest entry is not version $(field Version)"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ && "$(field Maintainer)" != *.invalid* ]] ||
  fail "Maintainer is not a real address: $(field Maintainer)"
depends="$(field Depends)"
# Every library the modules load comes from a package named in Depends.
# dpkg knows a file by the path its package ships it under, which may be the
# link or its target: one query asks for both of every library.
ldconfig -p >"$work/ldconfig"
libs=() paths=()
for lib in $(objdump -p "$modules/$vst3_so" "$modules/vst2/Kestrune.so" "$modules/Kestrune.lv2/Kestrune.so" "$modules/Kestrune.clap" | awk '/NEEDED/ { print $2 }' | sort -u); do
  path="$(awk -v l="$lib" '$1 == l && /x86-64/ && !found { print $NF; found = 1 }' "$work/ldconfig")"
  [ -n "$path" ] || { fail "library $lib not found"; continue; }
  libs+=("$lib") paths+=("$path" "$(readlink -f "$path")")
done
dpkg -S "${paths[@]}" >"$work/owners" 2>/dev/null || true
for i in "${!libs[@]}"; do
  lib="${libs[$i]}"
  package="$(awk -v link="${paths[$((2 * i))]}" -v target="${paths[$((2 * i + 1))]}" -F': ' \
    '($2 == link || $2 == target) && !found { sub(/:.*/, "", $1); print $1; found = 1 }' "$work/owners")"
  [ -n "$package" ] || { fail "no package provides $lib"; continue; }
  case ", $depends" in
    *", $package "* | *", $package,"* | *", $package") ;;
    *) fail "Depends ($depends) lacks $package, which provides $lib" ;;
  esac
done
check_system_layout "$work/deb-root/usr"
# Installed-Size is what the files take (the linked images counted once).
on_disk="$(du -s -k --apparent-size "$work/deb-root" | cut -f1)"
[ $(( $(field Installed-Size) * 100 / on_disk )) -ge 98 ] && [ $(( $(field Installed-Size) * 100 / on_disk )) -le 102 ] ||
  fail "Installed-Size $(field Installed-Size) KiB, but the files take $on_disk KiB"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "all Linux installs checked"
