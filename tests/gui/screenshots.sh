#!/usr/bin/env bash
# Takes the README's pictures into docs/ on a demo installation, in Xvfb under the openbox
# window manager (so that the windows have their frames): login.png, progress.png,
# main.png, recall.png, recall-by-patient.png and data-quality.png (where the report has
# them), find.png (the find bar) and print.png, the first page
# of the report printed to PDF (pdftoppm from poppler-utils).
#   tests/gui/screenshots.sh BUILD    (BUILD holds bin/gui_screenshots and bin/praxilo-demo)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
bin="$(cd "$1" && pwd)/bin"
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

"$bin/praxilo-demo" --dir "$work/demo" --patients 2000 --seed 12 >/dev/null
mkdir -p "$work/reports" "$work/shots"

# Xvfb picks a free display and writes its number to the file on descriptor 3.
Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
display_number=$(cat "$work/display")
export DISPLAY=":$display_number"
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
sleep 1

(cd "$work/reports" &&
  PIVZONA12_REGISTRY="$work/demo/registry.reg" QTWEBENGINE_DISABLE_SANDBOX=1 \
    QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu" LANG=C.UTF-8 LC_ALL=C.UTF-8 \
    QT_QPA_PLATFORM=xcb "$bin/gui_screenshots" "$work/shots")

pdftoppm -png -r 60 -f 1 -l 1 -singlefile "$work/shots/report.pdf" "$work/shots/print"
cp "$work/shots/"*.png "$root/docs/"
echo "Written: $(cd "$work/shots" && ls *.png | sed "s|^|$root/docs/|" | tr '\n' ' ')"
