#!/usr/bin/env bash
# Builds a demo installation under BUILD/demo and runs the three extractions for the
# last 365 days as the demo doctor, printing where the reports are.
#   scripts/demo.sh BUILD            the main job, from the command line
#   scripts/demo.sh BUILD --gui      the desktop program on the same installation
#   scripts/demo.sh BUILD --windows  the main job with the Windows programs of the cross
#                                    build BUILD, under Wine (scripts/wine-run.sh, one
#                                    wineserver for the whole demo): praxilo-demo.exe also
#                                    registers Praxilo.Server in the Wine prefix, and
#                                    pivzona12-cli.exe reaches praxilo-server.exe over COM
#   scripts/demo.sh BUILD --windows-gui  the Windows desktop program under Wine, on a demo
#                                    installation of its own (BUILD/demo-gui), in a Wine
#                                    prefix that draws on the display ($DISPLAY)
# Environment (the main job): PIVZONA12_DEMO_PATIENTS, the practice's size (default 2000);
# PIVZONA12_DEMO_DIR, the demo installation's folder (default BUILD/demo).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="$(cd "$1" && pwd)"
bin="$build/bin"
demo=$(realpath -m "${PIVZONA12_DEMO_DIR:-$build/demo}")
patients=${PIVZONA12_DEMO_PATIENTS:-2000}
mode="${2:-}"

if [[ "$mode" == "--gui" ]]; then
  [[ -f "$demo/registry.reg" ]] || "$bin/praxilo-demo" --dir "$demo" --patients "$patients" --seed 12 >/dev/null
  export PIVZONA12_REGISTRY="$demo/registry.reg"
  # The report view's browser engine refuses to start its sandbox as root.
  [[ $EUID -ne 0 ]] || export QTWEBENGINE_DISABLE_SANDBOX=1
  cd "$demo/reports" 2>/dev/null || { mkdir -p "$demo/reports" && cd "$demo/reports"; }
  exec "$bin/pivzona12"
fi

# The Windows programs run under Wine; Wine's drive Z: is the host's root directory.
wine_run() { bash "$root/scripts/wine-run.sh" "$@"; }
program_path() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }

if [[ "$mode" == "--windows-gui" ]]; then
  [[ -n "${DISPLAY:-}" ]] || { echo "the window needs a display (an X server, or xvfb-run)" >&2; exit 1; }
  # A prefix of its own: the tests' prefix uses Wine's null graphics driver, which shows nothing.
  export PIVZONA12_WINEPREFIX="${PIVZONA12_WIN_CACHE:-/var/cache/pivzona12-mingw}/wineprefix-gui"
  wine_run --start-display >/dev/null
  trap 'wine_run --stop >/dev/null 2>&1 || true' EXIT
  # praxilo-demo.exe also registers Praxilo.Server in this prefix.
  rm -rf "$build/demo-gui"
  wine_run "$bin/praxilo-demo.exe" --dir "$(program_path "$build/demo-gui")" --patients 2000 --seed 12 \
    --xsl-dir "$(program_path "$root/xsl")" >"$build/demo-gui.out"
  export PIVZONA12_REGISTRY=$(program_path "$build/demo-gui/registry.reg")
  mkdir -p "$build/demo-gui/reports"
  cd "$build/demo-gui/reports"
  echo "Demo installation: $build/demo-gui (doctor: demo, password: demo)"
  wine_run "$bin/pivzona12.exe"
  exit 0
fi

if [[ "$mode" == "--windows" ]]; then
  host_path() {
    local p=${1%$'\r'}
    if [[ $p == [Zz]:* ]]; then p=${p:2}; echo "${p//\\//}"; else WINEPREFIX=$(wine_run --prefix) winepath -u "$p"; fi
  }
  # Output goes to files, never through a pipe: a COM server that a program starts
  # inherits its handles.
  demo_program() { wine_run "$bin/praxilo-demo.exe" "$@" --xsl-dir "$(program_path "$root/xsl")" >"$build/demo.out"; }
  cli_program() { wine_run "$bin/pivzona12-cli.exe" "$@"; }
  wine_run --start >/dev/null
  trap 'wine_run --stop >/dev/null 2>&1 || true' EXIT
else
  program_path() { echo "$1"; }
  host_path() { echo "$1"; }
  demo_program() { "$bin/praxilo-demo" "$@" >/dev/null; }
  cli_program() { "$bin/pivzona12-cli" "$@"; }
fi

rm -rf "$demo"
mkdir -p "$demo"
demo_program --dir "$(program_path "$demo")" --patients "$patients" --seed 12
export PIVZONA12_REGISTRY=$(program_path "$demo/registry.reg")
mkdir -p "$demo/reports"
cd "$demo/reports"
printf 'demo\n' >"$build/demo-password.txt"

echo "Demo installation: $demo (doctor: demo, password: demo)"
for programme in diabete tao vaccinazioni; do
  xml="$demo/reports/$programme.xml"
  status=0
  cli_program --programme "$programme" --user demo --password-stdin --output "$(program_path "$xml")" \
    <"$build/demo-password.txt" >"$demo/reports/$programme.out" || status=$?
  if [[ $status -ne 0 ]]; then
    echo "$programme: extraction ended with status $status" >&2
    exit "$status"
  fi
  html=$(host_path "$(sed -n 2p "$demo/reports/$programme.out")")
  cp "$html" "$demo/reports/$programme.html"
  if xmllint --noout --schema "$root/schema/$programme.xsd" "$xml" 2>/dev/null; then valid="schema-valid"; else
    valid="NOT schema-valid"; fi
  patients=$(grep -c "<assistito>" "$xml" || true)
  printf '%-13s %5s patients  %s  (%s)\n' "$programme" "$patients" "$xml" "$valid"
  printf '%-13s %5s           %s\n' "" "" "$demo/reports/$programme.html"
done
echo "HTML report of the last run, as the window shows it: $html"
