#!/usr/bin/env bash
# Takes docs/login.png and docs/main.png in Xvfb on a demo installation.
#   tests/gui/screenshots.sh BUILD    (BUILD holds bin/gui_screenshots and bin/praxilo-demo)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
bin="$(cd "$1" && pwd)/bin"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin/praxilo-demo" --dir "$work/demo" --patients 2000 --seed 12 >/dev/null
mkdir -p "$work/reports"
cd "$work/reports"
PIVZONA12_REGISTRY="$work/demo/registry.reg" QTWEBENGINE_DISABLE_SANDBOX=1 \
  QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu" LANG=C.UTF-8 LC_ALL=C.UTF-8 \
  xvfb-run -a -s "-screen 0 1440x900x24" "$bin/gui_screenshots" "$root/docs"
echo "Written: $root/docs/login.png $root/docs/main.png"
