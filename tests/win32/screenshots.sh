#!/usr/bin/env bash
# Takes the README's pictures of the Windows desktop program into docs/ on a demo
# installation: win-login.png and win-main.png on a 1440x900 screen, then the whole screen
# after a run on a 1366x768 and on a 1920x1080 screen (win-screen-1366x768.png,
# win-screen-1920x1080.png); under Wine in Xvfb with the openbox window manager (Debian
# package openbox), in a Wine prefix of its own that draws on that display with
# Wine's own fonts.
#   tests/win32/screenshots.sh BUILD    (BUILD: the x86_64 Windows build, holding
#                                        bin/win32_screenshots.exe and bin/praxilo-demo.exe)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
bin="$(cd "$1" && pwd)/bin"
work=$(mktemp -d)
export PIVZONA12_WINEPREFIX="${PIVZONA12_WIN_CACHE:-/var/cache/pivzona12-mingw}/wineprefix-shots"
wine_run() { bash "$root/scripts/wine-run.sh" "$@"; }
win_path() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }
pids=()
demo=""
cleanup() {
  wine_run --stop >/dev/null 2>&1 || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work" ${demo:+"$demo"}
}
trap cleanup EXIT

mkdir -p "$work/shots"
# shoot SIZE [NAME]: a display of SIZE (WIDTHxHEIGHT) with its window manager and Wine, the
# demo installation at C:\Praxilo in the prefix and the program started there, as the
# Start-menu entry of the set-up program starts it (the pictures show Windows paths); with
# NAME, the whole screen after the run.
shoot() {
  local size=$1 name=${2:-}
  local before=${#pids[@]}
  rm -f "$work/display"
  # Xvfb picks a free display and writes its number to the file on descriptor 3.
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
  export DISPLAY=":$(cat "$work/display")"
  openbox --sm-disable >/dev/null 2>&1 &
  pids+=($!)
  sleep 1

  wine_run --start-display >/dev/null
  demo="$(wine_run --prefix)/drive_c/Praxilo"
  rm -rf "$demo"
  # praxilo-demo.exe also registers Praxilo.Server in this prefix.
  wine_run "$bin/praxilo-demo.exe" --dir 'C:\Praxilo' --patients 2000 --seed 12 --xsl-dir "$(win_path "$root/xsl")" \
    >"$work/demo.out"
  (cd "$demo" && PIVZONA12_REGISTRY='C:\Praxilo\registry.reg' \
    wine_run "$bin/win32_screenshots.exe" "$(win_path "$work/shots")" ${name:+"$name"} >"$work/shots.out" 2>&1) ||
    { cat "$work/shots.out" >&2; exit 1; }
  wine_run --stop >/dev/null 2>&1 || true
  # This display's server and window manager, by their ids.
  for pid in "${pids[@]:before}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]:before}"; do wait "$pid" 2>/dev/null || true; done
  pids=("${pids[@]:0:before}")
}

shoot 1440x900
shoot 1366x768 1366x768
shoot 1920x1080 1920x1080
cp "$work/shots/"*.png "$root/docs/"
echo "Written: $(cd "$work/shots" && ls *.png | sed "s|^|$root/docs/|" | tr '\n' ' ')"
