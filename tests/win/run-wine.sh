#!/usr/bin/env bash
# Runs a Windows test program under wine64 on its own virtual display.
#   run-wine.sh --init <dir>            makes a fresh Wine prefix in <dir>/wine-prefix,
#                                       and keeps an unused copy of it in <dir>/fresh-prefix
#                                       for a test that needs a prefix of its own and for
#                                       the next --init
#   run-wine.sh <dir> <program.exe> [arguments...]
# No network is used: the Mono and Gecko installers are switched off.
set -u
init=0
if [ "${1:-}" = "--init" ]; then init=1; shift; fi
dir="$1"; shift
export WINEPREFIX="$dir/wine-prefix" WINEARCH=win64 WINEDEBUG=-all
# Wine links the Windows user's Desktop and Documents into HOME: keep them
# inside <dir>, away from the user's own files.
export HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/.config"
mkdir -p "$HOME"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
loader=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver

# The unused copy serves the next --init while Wine and the way this script
# makes a prefix are the same: making one costs Wine seconds of CPU.
made_by="$("$loader" --version) $HOME $WINEDLLOVERRIDES $(md5sum <"${BASH_SOURCE[0]}")"
if [ "$init" = 1 ] && [ "$(cat "$dir/fresh-prefix/made-by" 2>/dev/null)" = "$made_by" ]; then
  rm -rf "$WINEPREFIX"
  cp -a "$dir/fresh-prefix" "$WINEPREFIX" || exit 1
  echo "run-wine: fresh prefix in $WINEPREFIX, copied from the unused one"
  exit 0
fi

displayfile="$(mktemp)"
# Wide enough for the editor at 2x (1824 pixels) with its host window.
Xvfb -displayfd 3 -screen 0 2048x1280x24 -nolisten tcp 3>"$displayfile" 2>/dev/null &
xpid=$!
for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.1; done
if [ ! -s "$displayfile" ]; then
  echo "run-wine: Xvfb did not start" >&2
  kill "$xpid" 2>/dev/null
  exit 1
fi
export DISPLAY=":$(head -n1 "$displayfile")"
rm -f "$displayfile"

finish() {
  "$server" -k 2>/dev/null
  "$server" -w 2>/dev/null
  kill "$xpid" 2>/dev/null
  wait "$xpid" 2>/dev/null
}

if [ "$init" = 1 ]; then
  rm -rf "$WINEPREFIX"
  mkdir -p "$dir"
  timeout 300 "$loader" wineboot --init >/dev/null 2>&1
  rc=$?
  "$server" -w 2>/dev/null
  finish
  [ -f "$WINEPREFIX/system.reg" ] || { echo "run-wine: prefix not created (rc $rc)" >&2; exit 1; }
  rm -rf "$dir/fresh-prefix" "$dir/fresh-prefix.new"
  cp -a "$WINEPREFIX" "$dir/fresh-prefix.new" && echo "$made_by" >"$dir/fresh-prefix.new/made-by" &&
    mv "$dir/fresh-prefix.new" "$dir/fresh-prefix" || exit 1
  echo "run-wine: fresh prefix in $WINEPREFIX"
  exit 0
fi

program="$1"; shift
timeout 900 "$loader" "$program" "$@"
rc=$?
finish
exit "$rc"
