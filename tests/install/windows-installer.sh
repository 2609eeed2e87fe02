#!/usr/bin/env bash
# The Windows installer under Wine, in a fresh prefix of its own (a copy of
# the unused one the Wine tests' fixture keeps):
#   1. an older version (the same installer script built as 3.0.0) installs
#      silently into the default VST2 folder, then again into a VST2 folder
#      chosen with /D=: the folders made for the first one go;
#   2. the real installer upgrades it silently without /D=: every file lands
#      where it belongs (identical to the build's), the chosen VST2 folder is
#      kept, the registry holds the uninstall entry and the remembered folder
#      (64-bit view) and nothing of the older version;
#   3. the silent uninstaller removes every file, folder and key it made,
#      and nothing else: the user's own presets (one with a factory preset's
#      name) and another plug-in stay.
# Then, outside the verdict, the installer's pages run on a virtual display
# and are saved as screenshots in <work dir>/screenshots.
#   windows-installer.sh <work dir> <installer> <older installer> <fresh prefix>
#                        <modules> <presets> <docs> <version>
set -uo pipefail
work="$1" installer="$2" older="$3" fresh_prefix="$4" modules="$5" presets="$6" docs="$7" version="$8"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
need_same() { cmp -s "$1" "$2" || fail "$2 missing or not the build's $1"; }
no_path() { [ ! -e "$1" ] || fail "$1 should be gone"; }

rm -rf "$work"
mkdir -p "$work/home"
# Wine links the Windows Documents folder into HOME: keep it inside the test.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
export WINEPREFIX="$work/wine-prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
loader=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver

cp -a "$fresh_prefix" "$WINEPREFIX" || { echo "no Wine prefix to copy" >&2; exit 1; }
# Wine points the user's folders at the HOME the prefix was made with: here
# they point at this test's. On Windows, Documents is a folder of its own,
# and the uninstall check needs to see into it.
user_dir="$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n1)"
for link in "$user_dir"/*; do [ -L "$link" ] && ln -sfn "$HOME" "$link"; done
documents="$user_dir/Documents"
rm -f "$documents" && mkdir -p "$documents"

# Runs a Windows program and waits until it and everything it started (the
# uninstaller runs a copy of itself) have ended and the registry is saved.
# A failure shows the exit status and what Wine printed. The bound is for a
# hang only: a loaded machine takes minutes, and ctest ends the test at ten.
runs=0
run() {
  runs=$((runs + 1))
  local log="$work/run-$runs.log" rc=0
  timeout 300 "$loader" "$@" >"$log" 2>&1 || rc=$?
  timeout 120 "$server" -w
  if [ $rc -ne 0 ]; then
    { echo "$*: exit status $rc$([ $rc -eq 124 ] && echo ', killed after 300 s')"
      tail -n 20 "$log"; } >&2
  fi
  return $rc
}

# A value in the 64-bit view of HKEY_LOCAL_MACHINE, as system.reg stores it
# (backslashes doubled, strings quoted, dword:hex).
reg_value() {  # reg_value <key> <name>
  KEY="[${1//\\/\\\\}]" NAME="\"$2\"" awk '
    BEGIN { key = ENVIRON["KEY"]; name = ENVIRON["NAME"] }
    index($0, key " ") == 1 || $0 == key { inside = 1; next }
    /^\[/ { inside = 0 }
    inside && index($0, name "=") == 1 { print substr($0, length(name) + 2); exit }
  ' "$WINEPREFIX/system.reg"
}
reg_key_exists() { KEY="[${1//\\/\\\\}]" awk 'index($0, ENVIRON["KEY"]) == 1 { found = 1 } END { exit !found }' "$WINEPREFIX/system.reg"; }

drive="$WINEPREFIX/drive_c"
files_now() {  # files_now [dirs]
  local what=(-type f -o -type l)
  [ "${1:-}" = dirs ] && what=(-type d)
  (cd "$drive" && find . -path ./windows -prune -o -path '*/Temp' -prune -o -path '*/AppData' -prune \
    -o \( "${what[@]}" \) -print | sort)
}

echo "== older version into the default VST2 folder, then moved to a chosen one"
files_now >"$work/files-before"
files_now dirs >"$work/dirs-before"
start=$(date +%s)
run "$older" /S || fail "older installer failed"
need_same "$modules/vst2/Kestrune.dll" "$drive/Program Files/Steinberg/VSTPlugins/Kestrune.dll"
# /D= is taken from the raw command line, unquoted, as a user types it.
run "$older" /S "/D=C:\\Audio\\VST2" "Plugins" || fail "older installer into /D= failed"
vst2_dir="$drive/Audio/VST2 Plugins"
need_same "$modules/vst2/Kestrune.dll" "$vst2_dir/Kestrune.dll"
no_path "$drive/Program Files/Steinberg"
[ "$(reg_value 'Software\Marlowind\Kestrune' Version)" = '"3.0.0"' ] || fail "older version not recorded"

# The user's own things, which nothing may touch, beside the factory presets
# earlier versions put into the folder where VST3 hosts save presets.
user_presets="$documents/VST3 Presets/Marlowind/Kestrune"
mkdir -p "$user_presets"
cp "$presets"/vst3/*.vstpreset "$user_presets/"
own="$(basename "$(ls "$presets"/vst3/*.vstpreset | head -n 1)")"
echo mine >"$user_presets/$own"
echo mine >"$user_presets/My Own.vstpreset"
echo other >"$vst2_dir/Other.dll"

echo "== upgrade with the real installer, silent, no folder given"
run "$installer" /S || fail "installer failed"
vst3_bundle="$drive/Program Files/Common Files/VST3/Kestrune.vst3"
need_same "$modules/Kestrune.vst3/Contents/x86_64-win/Kestrune.vst3" "$vst3_bundle/Contents/x86_64-win/Kestrune.vst3"
need_same "$modules/vst2/Kestrune.dll" "$vst2_dir/Kestrune.dll"
clap_module="$drive/Program Files/Common Files/CLAP/Kestrune.clap"
need_same "$modules/Kestrune.clap" "$clap_module"
no_path "$drive/Program Files/Steinberg/VSTPlugins/Kestrune.dll"
count=0
factory_vst3="$drive/ProgramData/VST3 Presets/Marlowind/Kestrune"
for p in "$presets"/vst3/*.vstpreset; do
  need_same "$p" "$factory_vst3/$(basename "$p")"; count=$((count + 1))
done
for p in "$presets"/vst2/*.fxp; do
  need_same "$p" "$drive/Program Files/Marlowind/Kestrune/VST2 Presets/$(basename "$p")"; count=$((count + 1))
done
[ "$count" -ge 10 ] || fail "only $count preset files to check"
[ "$(cd "$user_presets" && LC_ALL=C ls)" = "$(printf '%s\n' "$own" "My Own.vstpreset" | LC_ALL=C sort)" ] &&
  [ "$(cat "$user_presets/$own")" = mine ] ||
  fail "the upgrade did not keep exactly the user's own presets: $(ls "$user_presets")"
uninstaller="$drive/Program Files/Marlowind/Kestrune/Uninstall Kestrune.exe"
[ -f "$uninstaller" ] || fail "no uninstaller"
# Both carry Kestrune's icon (every image of it), not the installer compiler's.
for exe in "$installer" "$uninstaller"; do
  python3 - "$presets/installer/Kestrune.ico" "$exe" <<'PY' || fail "$(basename "$exe") lacks Kestrune's icon"
import struct, sys
icon, exe = (open(path, "rb").read() for path in sys.argv[1:3])
count = struct.unpack_from("<H", icon, 4)[0]
entries = [struct.unpack_from("<II", icon, 6 + 16 * i + 8) for i in range(count)]
sys.exit(0 if count and all(exe.find(icon[at:at + size]) >= 0 for size, at in entries) else 1)
PY
done
need_same "$docs/LICENSE" "$drive/Program Files/Marlowind/Kestrune/LICENSE"

uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrune'
expect_reg() {  # expect_reg <key> <name> <stored value>
  local got
  got="$(reg_value "$1" "$2")"
  [ "$got" = "$3" ] || fail "registry $1 $2 is '$got', expected '$3'"
}
expect_reg "$uninstall_key" DisplayName '"Kestrune"'
expect_reg "$uninstall_key" DisplayVersion "\"$version\""
expect_reg "$uninstall_key" Publisher '"Marlowind"'
expect_reg "$uninstall_key" UninstallString '"\"C:\\Program Files\\Marlowind\\Kestrune\\Uninstall Kestrune.exe\""'
expect_reg 'Software\Marlowind\Kestrune' VST2Folder '"C:\\Audio\\VST2 Plugins"'
expect_reg 'Software\Marlowind\Kestrune' Version "\"$version\""
size_kb=$((16#$(reg_value "$uninstall_key" EstimatedSize | sed 's/^dword://')))
bytes=$(du -sbL "$vst3_bundle" "$vst2_dir/Kestrune.dll" "$clap_module" "$factory_vst3" \
  "$drive/Program Files/Marlowind/Kestrune" | awk '{ s += $1 } END { print s }')
[ "$size_kb" -ge $((bytes / 1024 * 9 / 10)) ] && [ "$size_kb" -le $((bytes / 1024 * 11 / 10 + 16)) ] ||
  fail "EstimatedSize $size_kb KB for about $((bytes / 1024)) KB installed"
reg_key_exists 'Software\Wow6432Node\Marlowind' && fail "keys written to the 32-bit view"
echo "installed: estimated size $size_kb KB"

echo "== silent uninstall"
run "$uninstaller" /S || fail "uninstaller failed"
files_now >"$work/files-after"
printf '%s\n' "./Audio/VST2 Plugins/Other.dll" \
  "./${documents#"$drive"/}/VST3 Presets/Marlowind/Kestrune/My Own.vstpreset" \
  "./${documents#"$drive"/}/VST3 Presets/Marlowind/Kestrune/$own" |
  sort - "$work/files-before" >"$work/files-expected"
diff "$work/files-expected" "$work/files-after" >&2 || fail "the uninstall left or removed other files"
files_now dirs >"$work/dirs-after"
user_docs="./${documents#"$drive"/}"
printf '%s\n' ./Audio "./Audio/VST2 Plugins" "$user_docs/VST3 Presets" "$user_docs/VST3 Presets/Marlowind" \
  "$user_docs/VST3 Presets/Marlowind/Kestrune" | sort - "$work/dirs-before" >"$work/dirs-expected"
diff "$work/dirs-expected" "$work/dirs-after" >&2 || fail "the uninstall left or removed other folders"
[ "$(cat "$user_presets/$own")" = mine ] || fail "the uninstall changed the user's own $own"
reg_key_exists "$uninstall_key" && fail "uninstall key left"
reg_key_exists 'Software\Marlowind\Kestrune' && fail "Marlowind\\Kestrune key left"
reg_key_exists 'Software\Marlowind' && fail "empty Marlowind key left"
echo "install, upgrade and uninstall took $(($(date +%s) - start)) s"

# The pages as a user sees them: welcome, licence, VST2 folder, installed.
# Screenshots only; a display or timing hiccup here fails nothing.
shots="$work/screenshots"
mkdir -p "$shots"
displayfile="$(mktemp)"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.1; done
if [ -s "$displayfile" ]; then
  export DISPLAY=":$(head -n1 "$displayfile")" XSHOT_STATE="$shots"
  xshot="$(dirname "${BASH_SOURCE[0]}")/xshot.py"
  timeout 30 python3 "$xshot" shot "$shots/blank.png" && rm -f "$shots/blank.png"  # each shot waits for a change
  timeout 300 "$loader" "$installer" >/dev/null 2>&1 &
  setup=$!
  page=1
  for name in welcome licence vst2-folder installed; do
    if [ "$name" = installed ]; then
      # The progress page can hold still between steps: wait for the last
      # file the section writes, then for its last registry writes.
      for _ in $(seq 240); do [ -f "$uninstaller" ] && break; sleep 0.25; done
      sleep 1
    fi
    timeout 30 python3 "$xshot" shot "$shots/$page-$name.png" || break
    [ "$name" = installed ] || timeout 10 python3 "$xshot" key Return || break
    page=$((page + 1))
  done
  "$server" -k 2>/dev/null
  wait "$setup" 2>/dev/null
  rm -f "$shots/xshot-last"
  echo "installer pages: $(ls "$shots"/*.png 2>/dev/null | tr '\n' ' ')"
fi
kill "$xvfb" 2>/dev/null
wait "$xvfb" 2>/dev/null
rm -f "$displayfile"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "Windows installer checked"
