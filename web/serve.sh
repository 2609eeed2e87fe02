#!/usr/bin/env bash
# Serves the web page the release build assembled (build/release/web/page) on
# this machine only: http://127.0.0.1:8000/ (another port: web/serve.sh 8080;
# another build folder: KESTRUNE_WEB_DIR=...). Python's own server is enough:
# the page loads nothing from anywhere else.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="${KESTRUNE_WEB_DIR:-$root/build/release/web/page}"
port="${1:-8000}"
if [ ! -f "$dir/index.html" ] || [ ! -f "$dir/kestrune.wasm" ]; then
  echo "serve.sh: no page in $dir; build it first (cmake --build build/release --target kestrune_web)" >&2
  exit 1
fi
echo "Kestrune's page: http://127.0.0.1:$port/ (Ctrl-C stops)"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$dir"
