#!/usr/bin/env bash
# Runs a Windows program under Wine and exits with the program's own status; the cross
# build uses it as its test emulator (ctest calls it as `bash wine-run.sh PROGRAM ARGS...`).
#
#   scripts/wine-run.sh PROGRAM.exe [ARGS...]   run a 64-bit (wine64) or 32-bit (wine) program
#   scripts/wine-run.sh --start                 make the prefix if needed and start one
#                                               persistent wineserver for it
#   scripts/wine-run.sh --start-display         the same for a prefix whose windows are drawn
#                                               on $DISPLAY, with Wine's own fonts (Debian
#                                               package fonts-wine); whatever ran in the
#                                               prefix is ended first
#   scripts/wine-run.sh --stop                  end that wineserver and every program still
#                                               running in the prefix (COM servers included)
#   scripts/wine-run.sh --prefix                print the Wine prefix in use
#
# A test run keeps one wineserver for all its programs (otherwise each one pays Wine's
# start-up of a few seconds) and ends it afterwards:
#   bash scripts/wine-run.sh --start
#   ctest --test-dir build-windows ...; status=$?
#   bash scripts/wine-run.sh --stop
# --stop ends everything running in the prefix: runs that may overlap use prefixes of their own.
#
# Environment:
#   PIVZONA12_WINEPREFIX  the Wine prefix (default: $PIVZONA12_WIN_CACHE/wineprefix, the
#                         cache defaulting to /var/cache/pivzona12-mingw); made on first use,
#                         headless: Wine's null graphics driver, no Gecko or Mono installer
#   WINEDEBUG             default -all
# The program's output is never piped: a COM server it starts inherits its handles, and a
# pipe would stay open until that server ends.
set -euo pipefail

cache=${PIVZONA12_WIN_CACHE:-/var/cache/pivzona12-mingw}
export WINEPREFIX=${PIVZONA12_WINEPREFIX:-$cache/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# Keeps the prefix's automatic update (after a Wine upgrade) from offering to install
# Gecko or Mono: such a dialog would hang a run that has no display.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

fail() {
  echo "wine-run: $*" >&2
  exit 125
}

find_tool() {  # find_tool NAME FALLBACK: the tool on PATH, else the fallback if present
  local found
  found=$(command -v "$1" 2>/dev/null) && { echo "$found"; return; }
  [[ -x $2 ]] && echo "$2"
}

wine64=$(find_tool wine64 /usr/lib/wine/wine64) || fail "wine64 not found (Debian package wine64)"
wineserver=$(find_tool wineserver /usr/lib/wine/wineserver) || fail "wineserver not found (Debian package wine)"

ready_mark="$WINEPREFIX/.pivzona12-ready"

# Makes the prefix once; concurrent first runs wait for each other on a lock beside it.
ensure_prefix() {
  [[ -f $ready_mark ]] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  local log="$WINEPREFIX.log"
  (
    flock 9
    [[ -f $ready_mark ]] && exit 0
    # A prefix without its mark was left half made by an interrupted first run.
    rm -rf "$WINEPREFIX"
    # The lock's descriptor is closed for Wine: servers started now outlive this run.
    if ! WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=" "$wine64" wineboot -i >"$log" 2>&1 9>&- ||
       ! "$wine64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >>"$log" 2>&1 9>&-; then
      fail "could not make the Wine prefix $WINEPREFIX (log: $log)"
    fi
    # Waits for the set-up's wineserver to end: the registry is then on disk, and a
    # persistent server can be started for the prefix.
    "$wineserver" -w 9>&-
    touch "$ready_mark"
  ) 9>"$WINEPREFIX.lock"
}

# The machine field of a PE file's COFF header: 8664 (x86-64), 14c (i386); empty if not PE.
pe_machine() {
  local file=$1 offset signature
  [[ $(head -c 2 "$file" 2>/dev/null) == MZ ]] || return 0
  offset=$(od -An -t u4 -j 60 -N 4 "$file" | tr -d ' ')
  [[ $offset =~ ^[0-9]+$ ]] || return 0
  signature=$(od -An -c -j "$offset" -N 2 "$file" | tr -d ' ')
  [[ $signature == PE ]] || return 0
  od -An -t x2 -j $((offset + 4)) -N 2 "$file" | tr -d ' ' | sed 's/^0*//'
}

case "${1:-}" in
  "")
    echo "usage: wine-run.sh PROGRAM [ARGS...] | --start | --stop | --prefix" >&2
    exit 64
    ;;
  --prefix)
    echo "$WINEPREFIX"
    exit 0
    ;;
  --start)
    ensure_prefix
    status=0
    "$wineserver" -p || status=$?
    # 2: a server already runs for the prefix; programs use that one.
    if ((status == 2)); then
      echo "wine-run: a wineserver already runs for $WINEPREFIX" >&2
      status=0
    fi
    # Wine's services (services.exe, rpcss, plugplay, winedevice) start with the first
    # program and live as long as the server, holding that program's output open: they
    # are started here with nothing attached, so that a test runner's pipe is never held.
    ((status == 0)) && "$wine64" cmd.exe /c exit </dev/null >/dev/null 2>&1 9>&- || true
    exit "$status"
    ;;
  --start-display)
    [[ -n ${DISPLAY:-} ]] || fail "no display for the windows (an X server, or xvfb-run)"
    ensure_prefix
    # Without copies in the prefix, Wine finds none of its own fonts and gives every face
    # the same substitute.
    if [[ -d /usr/share/wine/fonts ]]; then
      cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    fi
    # The prefix is made with Wine's null graphics driver; a server that runs keeps the
    # driver its desktop started with, so the change is made with none running.
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w
    "$wine64" reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f </dev/null >/dev/null 2>&1 || true
    "$wineserver" -w
    exec bash "${BASH_SOURCE[0]}" --start
    ;;
  --stop)
    # Nothing to end when no server runs for the prefix.
    "$wineserver" -k 2>/dev/null || true
    exit 0
    ;;
esac

program=$1
shift
[[ -f $program ]] || fail "no program $program"

case "$(pe_machine "$program")" in
  14c)
    loader=$(find_tool wine32 /usr/lib/wine/wine) ||
      fail "$program is a 32-bit program: it needs Wine's 32-bit part (Debian package wine32:i386)"
    ;;
  *)
    loader=$wine64
    ;;
esac

ensure_prefix
exec "$loader" "$program" "$@"
