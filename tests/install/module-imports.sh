#!/usr/bin/env bash
# The Windows modules import only the system libraries an audio plug-in
# with an editor window needs: no network, sockets or other surprises that
# reviewers and antivirus heuristics ask about.
#   module-imports.sh <objdump> <module>...
set -uo pipefail
objdump="$1"
shift
allowed=" advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll shell32.dll user32.dll "
failures=0
for module in "$@"; do
  dlls="$("$objdump" -p "$module" | awk '/DLL Name:/ { print tolower($3) }' | sort -u)"
  [ -n "$dlls" ] || { echo "FAIL: no imports read from $module" >&2; failures=$((failures + 1)); continue; }
  for dll in $dlls; do
    case "$allowed" in
      *" $dll "*) ;;
      *) echo "FAIL: $(basename "$module") imports $dll:" \
           "$("$objdump" -p "$module" | awk -v d="$dll" '/DLL Name:/ { on = tolower($3) == d; next }
                on && NF == 3 && $2 ~ /^[0-9]+$/ { printf " %s", $3 } /^$/ { on = 0 }')" >&2
         failures=$((failures + 1)) ;;
    esac
  done
done
[ "$failures" -eq 0 ] || exit 1
echo "imports checked: $*"
