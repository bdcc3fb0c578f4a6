#!/usr/bin/env bash
# The set-up program under Wine, silent (/S), in the Wine prefix of the test run (started by
# scripts/wine-run.sh --start): it refuses to install without the records product and
# installs nothing then; it finds the product's directory from its App Paths key in each
# form that the program accepts; a second installation after the product has moved takes
# the stylesheets away from the old directory; the command line, run from the installed
# folder with the system registry only, saves a report and its page; the uninstaller
# removes what was installed and leaves every file of the records product as it was.
#   tests/win32/installer_test.sh BIN_DIR SETUP_EXE
# Every Wine program's output goes to a file, never through a pipe.
set -euo pipefail
bin=$(cd "$1" && pwd)
setup=$(realpath "$2")
root=$(cd "$(dirname "$0")/../.." && pwd)
# No host menu entries for the Start-menu shortcut (Wine's menu builder would write them).
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=C.UTF-8 LC_ALL=C.UTF-8
# The system registry only: the App Paths key and the server's class as the set-up
# program and the installed programs see them.
unset PIVZONA12_REGISTRY PIVZONA12_CODEPAGE PIVZONA12_PASSWORD

wine_run() { bash "$root/scripts/wine-run.sh" "$@"; }
prefix=$(wine_run --prefix)
reg_exe="$prefix/drive_c/windows/system32/reg.exe"
win_path() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }

work=$(mktemp -d)
product="$work/Praxilo Medico"       # the records product's installation
moved="$work/Praxilo Precedente"     # where an earlier installation of it was
programs="$prefix/drive_c/Program Files/PIV ZONA12"  # the programs' folder by default
log="$work/wine.log"
app_paths='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\PRAXILO.EXE'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\PIV ZONA12'
shortcut="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/PIV ZONA12.lnk"
stylesheets=(Diabete_to_HTML.xsl Tao_to_HTML.xsl Vac_to_HTML.xsl ZONA12_comune.xsl)
schemas=(diabete.xsd tao.xsd vaccinazioni.xsd)
# What the installation and the program's runs put in the product's directory.
ours='^\./(Diabete_to_HTML\.xsl|Tao_to_HTML\.xsl|Vac_to_HTML\.xsl|ZONA12_comune\.xsl|ZONA12(\._tmp)?\.html)$'

reg() { wine_run "$reg_exe" "$@" >>"$log" 2>&1; }
# What an interrupted run of this test may have left in the prefix.
remove_installation() {
  reg delete "$app_paths" /f || true
  reg delete "$uninstall_key" /f || true
  rm -rf "$programs" "$shortcut"
}
cleanup() {
  local status=$?
  remove_installation
  wine_run "$bin/praxilo-demo.exe" --unregister >>"$log" 2>&1 || true
  if ((status == 0)); then rm -rf "$work"; else echo "kept for inspection: $work" >&2; fi
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
die() {
  echo "FAIL: $*" >&2
  [[ -f $log ]] && tail -n 20 "$log" >&2
  exit 1
}

# Every file under a directory with its checksum, but for the paths matching SKIP.
snapshot() {  # snapshot DIR [SKIP_REGEX]
  (cd "$1" && find . -type f -print | { grep -Ev "${2:-^$}" || true; } | LC_ALL=C sort | while IFS= read -r f; do
    sha256sum "$f"
  done)
}

set_app_paths() {  # set_app_paths VALUE, or - for no key
  if [[ $1 == - ]]; then
    reg delete "$app_paths" /f || true
  else
    reg add "$app_paths" /v Path /d "$1" /f || die "cannot write the App Paths key"
  fi
}

install() {  # install: the set-up program, silent, into the default folder; sets status
  status=0
  wine_run "$setup" /S >>"$log" 2>&1 || status=$?
}

installed_key() { reg query "$uninstall_key"; }

remove_installation

# ---- the records product: a demo installation with a few files that resemble ours ----
wine_run "$bin/praxilo-demo.exe" --dir "$(win_path "$product")" --patients 120 --seed 3 \
  --xsl-dir "$(win_path "$work/no-stylesheets")" >"$work/demo.out" 2>&1 || die "praxilo-demo failed"
printf '<xsl:stylesheet/>\n' >"$product/Ricetta_to_HTML.xsl"
printf '<html>guida</html>\n' >"$product/Guida.html"
mkdir -p "$product/Temp" "$moved"
printf 'sessione\n' >"$product/Temp/sessione.tmp"
printf 'archivio\n' >"$moved/praxilo.db"
snapshot "$product" >"$work/product.before"
snapshot "$moved" >"$work/moved.before"

# ---- without the records product nothing is installed ----
refusals=(
  "no App Paths key|-"
  "empty Path|"
  "Path starting with ;|;$(win_path "$product");"
  "directory that does not exist|$(win_path "$work/Assente");"
)
for row in "${refusals[@]}"; do
  name=${row%%|*}
  value=${row#*|}
  set_app_paths "$value"
  install
  ((status == 2)) || fail "$name: the set-up program ended with $status, expected 2 (refused)"
  [[ ! -e $programs ]] || fail "$name: the programs' folder was made"
  installed_key && fail "$name: the installation is listed among the installed programs"
  [[ ! -e $shortcut ]] || fail "$name: a Start-menu entry was made"
  for xsl in "${stylesheets[@]}"; do [[ ! -e $product/$xsl ]] || fail "$name: $xsl was copied"; done
  rm -rf "$programs"
done

# ---- the forms of the App Paths value that the program reads as the product's directory ----
# First beside the earlier directory, then each form of the value for the product's own.
product_win=$(win_path "$product")
placements=(
  "earlier directory|$(win_path "$moved");|$moved"
  "directory list|$product_win;$product_win\\bin;|$product"
  "closing backslash|$product_win\\;|$product"
  "no semicolon, taken whole|$product_win|$product"
  "forward slashes|${product_win//\\//};|$product"
)
for row in "${placements[@]}"; do
  IFS='|' read -r name value dir <<<"$row"
  set_app_paths "$value"
  install
  ((status == 0)) || { fail "$name: the set-up program ended with $status"; continue; }
  for xsl in "${stylesheets[@]}"; do
    cmp -s "$root/xsl/$xsl" "$dir/$xsl" || fail "$name: $xsl is not in $dir"
  done
  if [[ $dir == "$product" ]]; then
    for xsl in "${stylesheets[@]}"; do
      [[ ! -e $moved/$xsl ]] || fail "$name: $xsl stays in the earlier directory"
    done
  fi
done
[[ $(snapshot "$moved") == $(cat "$work/moved.before") ]] || fail "the earlier directory's own files changed"

# ---- what the installation left ----
for file in pivzona12.exe pivzona12-cli.exe Disinstalla.exe "${schemas[@]/#/schema/}"; do
  [[ -f $programs/$file ]] || fail "$file is not installed"
done
[[ -f $shortcut ]] || fail "no Start-menu entry"
# The entry starts the program in the product's directory (its one path besides the target's).
tr -d '\000' <"$shortcut" | grep -aqF "$product_win" || fail "the Start-menu entry does not start in $product_win"
wine_run "$reg_exe" query "$uninstall_key" >"$work/key.txt" 2>&1 || fail "not listed among the installed programs"
for expected in "DisplayName    REG_SZ    PIV ZONA12" "UninstallString    REG_SZ    \"C:\\Program Files\\PIV ZONA12\\Disinstalla.exe\"" \
  "PraxiloDir    REG_SZ    $product_win\\"; do
  grep -qF -- "$expected" "$work/key.txt" || fail "the uninstall entry lacks: $expected"
done
[[ $(snapshot "$product" "$ours") == $(cat "$work/product.before") ]] ||
  fail "the installation changed the records product's own files"

# ---- the installed command line: a report and its page, on the system registry alone ----
mkdir -p "$work/reports"
printf 'demo\n' >"$work/password"
status=0
(cd "$work/reports" && wine_run "$programs/pivzona12-cli.exe" --programme diabete --user demo --password-stdin \
  --output "$(win_path "$work/reports/diabete.xml")" <"$work/password" >"$work/cli.out" 2>"$work/cli.err") || status=$?
if ((status != 0)); then
  fail "the installed pivzona12-cli.exe ended with $status: $(cat "$work/cli.err")"
else
  grep -q "<assistito>" "$work/reports/diabete.xml" || fail "the report holds no patient"
  page=$(sed -n 2p "$work/cli.out" | tr -d '\r')
  [[ $page == "${product_win}\\ZONA12.html" ]] || fail "the page is $page, not in the product's directory"
  grep -qi "<html" "$product/ZONA12.html" || fail "the page is not HTML"
fi

# ---- the uninstaller, as the list of installed programs runs it ----
snapshot "$product" "$ours" >"$work/product.run"
status=0
wine_run "$programs/Disinstalla.exe" /S >>"$log" 2>&1 || status=$?
((status == 0)) || fail "the uninstaller ended with $status"
# It works from a copy of itself, so that it can remove itself: the folder goes last.
for _ in $(seq 600); do [[ -e $programs ]] || break; sleep 0.1; done
[[ ! -e $programs ]] || die "the programs' folder is still there: $(cd "$programs" && find . | tr '\n' ' ')"
# The copy ends right after; the test waits for it, so as to leave nothing running.
for _ in $(seq 100); do pgrep -f '\\~nsu[^ ]*\\Un\.exe' >/dev/null || break; sleep 0.1; done
[[ ! -e $shortcut ]] || fail "the Start-menu entry is still there"
installed_key && fail "still listed among the installed programs"
for file in "${stylesheets[@]}" ZONA12.html; do [[ ! -e $product/$file ]] || fail "$file is still in the product's directory"; done
[[ $(snapshot "$product") == $(cat "$work/product.run") ]] ||
  fail "the uninstallation changed the records product's own files: $(diff "$work/product.run" <(snapshot "$product"))"

if ((failures)); then
  echo "$failures failed" >&2
  exit 1
fi
echo "set-up program: installation, refusals, run and uninstallation as expected"
