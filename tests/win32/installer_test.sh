#!/usr/bin/env bash
# The set-up program under Wine, silent (/S), in the Wine prefix of the test run (started by
# scripts/wine-run.sh --start): it refuses to install without the records product and
# installs nothing then; it installs the build of the product's architecture, told by the
# product's praxiapi.dll, else its PRAXILO.EXE, else 32-bit, in that build's program files
# folder, and an installation of the other build leaves no file of the earlier one; a folder
# chosen with /D= stays the folder of the next installations, of either build; it takes over
# the installation of an earlier 32-bit set-up program (listed in the registry's 32-bit
# view) and leaves nothing of it; it finds the product's directory from its App Paths key
# in each form that the program accepts; a second installation after the product has moved
# takes the stylesheets away from the old directory; the command line, run from the
# installed folder with the system registry only, saves a report and its page; the
# uninstaller removes what was installed and leaves every file of the records product as
# it was.
#   tests/win32/installer_test.sh BIN_DIR SETUP_EXE I686_BIN_DIR OBJDUMP PACKED_DIR
# PACKED_DIR holds the program files the set-up program packs, in i686/ and x86_64/.
# SETUP_EXE is the set-up program: here the one on NSIS's 64-bit stub, as these machines
# run no 32-bit code; in the 32-bit virtual machine (tests/win32/guest32_test.sh) the real
# 32-bit one.
# The i686 programs are checked by their PE header (OBJDUMP), never run; the files of the
# two builds (I686_BIN_DIR and BIN_DIR) serve as the product's 32- and 64-bit PE files.
# Every Wine program's output goes to a file, never through a pipe.
set -euo pipefail
bin=$(cd "$1" && pwd)
setup=$(realpath "$2")
bin32=$(cd "$3" && pwd)
objdump=$4
packed=$(cd "$5" && pwd)
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
drive_c=$(realpath -m "$prefix/drive_c")
# A host path as the Windows programs see it: on drive C: inside the prefix, else on Z:.
win_path() {
  local p
  p=$(realpath -m "$1")
  if [[ $p == "$drive_c"/* ]]; then
    p=${p#"$drive_c"}
    echo "C:${p//\//\\}"
  else
    echo "Z:${p//\//\\}"
  fi
}

work=$(mktemp -d)
product="$work/Praxilo Medico"       # the records product's installation
moved="$work/Praxilo Precedente"     # where an earlier installation of it was
# The programs' folder by default, for each build; and one chosen with /D= (no space: /D=
# takes no quotes, and Wine quotes an argument that holds one).
programs64="$prefix/drive_c/Program Files/PIV ZONA12"
programs32="$prefix/drive_c/Program Files (x86)/PIV ZONA12"
custom="$work/cartella-scelta/PIV-ZONA12"
log="$work/wine.log"
app_paths='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\PRAXILO.EXE'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\PIV ZONA12'
shortcut="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/PIV ZONA12.lnk"
stylesheets=(Diabete_to_HTML.xsl Tao_to_HTML.xsl Vac_to_HTML.xsl ZONA12_comune.xsl intervalli_plausibili.xml)
schemas=(diabete.xsd tao.xsd vaccinazioni.xsd)
# What the installation and the program's runs put in the product's directory.
ours='^\./(Diabete_to_HTML\.xsl|Tao_to_HTML\.xsl|Vac_to_HTML\.xsl|ZONA12_comune\.xsl|intervalli_plausibili\.xml|ZONA12(\._tmp)?\.html)$'

reg() { wine_run "$reg_exe" "$@" >>"$log" 2>&1; }
# What an interrupted run of this test may have left in the prefix.
remove_installation() {
  reg delete "$app_paths" /f || true
  reg delete "$uninstall_key" /f || true
  reg delete "$uninstall_key" /f /reg:32 || true
  rm -rf "$programs64" "$programs32" "$custom" "$shortcut"
}
# 64-bit Windows names the 32-bit programs' folder in the registry's 32-bit view, where
# NSIS's $PROGRAMFILES32 reads it; a Wine prefix made without Wine's 32-bit part lacks the
# value (and $PROGRAMFILES32 then falls back to C:\Program Files): the test supplies it.
current_version='HKLM\Software\Microsoft\Windows\CurrentVersion'
programs32_added=false
cleanup() {
  local status=$?
  remove_installation
  if $programs32_added; then reg delete "$current_version" /v ProgramFilesDir /f /reg:32 || true; fi
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

install() {  # install [/D=DIR]: the set-up program, silent; sets status
  status=0
  wine_run "$setup" /S "$@" >>"$log" 2>&1 || status=$?
}

installed_key() { reg query "$uninstall_key"; }

# The format objdump gives a program file: pei-i386 or pei-x86-64.
program_format() { "$objdump" -f "$1" 2>/dev/null | sed -n 's/.*file format //p'; }

# expect_installed CASE BITS FOLDER PRAXILO_DIR: the build of BITS bits is installed in
# FOLDER, listed as such, with its Start-menu entry, beside the stylesheets in PRAXILO_DIR;
# no other folder of the test holds an installation (nor what is left of one).
expect_installed() {
  local name=$1 bits=$2 folder=$3 dir=$4 format=pei-x86-64 folder_win other program xsl
  ((bits == 64)) || format=pei-i386
  folder_win=$(win_path "$folder")
  for program in pivzona12.exe pivzona12-cli.exe; do
    [[ $(program_format "$folder/$program") == "$format" ]] ||
      fail "$name: $folder/$program is not a $format file ($(program_format "$folder/$program"))"
  done
  for other in "$programs64" "$programs32" "$custom"; do
    [[ $other == "$folder" || ! -e $other ]] ||
      fail "$name: $other is left: $(cd "$other" && find . | tr '\n' ' ')"
  done
  wine_run "$reg_exe" query "$uninstall_key" >"$work/key.txt" 2>&1 || fail "$name: not listed among the installed programs"
  for expected in "Architettura    REG_SZ    $bits bit" "InstallLocation    REG_SZ    $folder_win" \
    "PraxiloDir    REG_SZ    $(win_path "$dir")\\"; do
    grep -qxF -- "    $expected" <(tr -d '\r' <"$work/key.txt") || fail "$name: the uninstall entry lacks: $expected"
  done
  # An earlier set-up program of 32 bits listed its installation in the 32-bit view.
  reg query "$uninstall_key" /reg:32 && fail "$name: still listed in the registry's 32-bit view"
  tr -d '\000' <"$shortcut" | grep -aqiF "$folder_win\\pivzona12.exe" || fail "$name: the Start-menu entry does not start $folder_win\\pivzona12.exe"
  for xsl in "${stylesheets[@]}"; do
    cmp -s "$root/xsl/$xsl" "$dir/$xsl" || fail "$name: $xsl is not in $dir"
  done
}

remove_installation
if ! reg query "$current_version" /v ProgramFilesDir /reg:32; then
  programs32_added=true
  reg add "$current_version" /v ProgramFilesDir /d 'C:\Program Files (x86)' /f /reg:32 ||
    die "cannot write the 32-bit programs' folder"
fi

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
  for folder in "$programs64" "$programs32"; do [[ ! -e $folder ]] || fail "$name: $folder was made"; done
  installed_key && fail "$name: the installation is listed among the installed programs"
  [[ ! -e $shortcut ]] || fail "$name: a Start-menu entry was made"
  for xsl in "${stylesheets[@]}"; do [[ ! -e $product/$xsl ]] || fail "$name: $xsl was copied"; done
  rm -rf "$programs64" "$programs32"
done

# ---- the build of the product's architecture ----
# Files whose PE header tells: the logging libraries of the two builds. Files that tell
# nothing: text, a DOS header whose PE header offset points past the end of the file, and
# a PE file for another machine (ARM64, 0xAA64).
pe32="$bin32/praxiapi.dll"
pe64="$bin/praxiapi.dll"
mkdir -p "$work/pe"
printf 'Praxilo\r\n' >"$work/pe/text"
head -c 64 "$pe64" >"$work/pe/dos-header"
cp "$pe64" "$work/pe/arm64"
pe_offset=$(od -An -t u4 -j 60 -N 4 "$pe64" | tr -d ' ')
printf '\x64\xaa' | dd of="$work/pe/arm64" bs=1 seek=$((pe_offset + 4)) conv=notrunc status=none
# One product's directory per case, with its PRAXILO.EXE and its praxiapi.dll (- for
# none), and the build expected. Each case installs the other build than the one before
# (but the last): the earlier one must leave no file.
# The library, which the program loads, decides before the program.
choices=(
  "praxiapi.dll of 64 bits beside a PRAXILO.EXE of 32|$pe32|$pe64|64"
  "praxiapi.dll of 32 bits beside a PRAXILO.EXE of 64|$pe64|$pe32|32"
  "PRAXILO.EXE of 64 bits alone|$pe64|-|64"
  "praxiapi.dll of 32 bits alone|-|$pe32|32"
  "praxiapi.dll of 64 bits alone|-|$pe64|64"
  "neither file|-|-|32"
  "praxiapi.dll not a PE file, PRAXILO.EXE of 64 bits|$pe64|$work/pe/text|64"
  "PRAXILO.EXE cut after its DOS header|$work/pe/dos-header|-|32"
  "praxiapi.dll for another machine, PRAXILO.EXE of 64 bits|$pe64|$work/pe/arm64|64"
  "PRAXILO.EXE for another machine|$work/pe/arm64|-|32"
  "PRAXILO.EXE not a PE file, praxiapi.dll of 64 bits|$work/pe/text|$pe64|64"
)
case_number=0
for row in "${choices[@]}"; do
  IFS='|' read -r name exe dll bits <<<"$row"
  case_number=$((case_number + 1))
  dir="$work/Praxilo $case_number"
  mkdir -p "$dir"
  [[ $exe == - ]] || cp "$exe" "$dir/PRAXILO.EXE"
  [[ $dll == - ]] || cp "$dll" "$dir/praxiapi.dll"
  set_app_paths "$(win_path "$dir");"
  install
  ((status == 0)) || { fail "$name: the set-up program ended with $status"; continue; }
  if ((bits == 64)); then folder=$programs64; else folder=$programs32; fi
  expect_installed "$name" "$bits" "$folder" "$dir"
done

dir64="$work/Praxilo 64"
dir32="$work/Praxilo 32"
mkdir -p "$dir64" "$dir32"
cp "$pe64" "$dir64/praxiapi.dll"
cp "$pe32" "$dir32/praxiapi.dll"

# ---- the folder page asks for the room of the chosen build only ----
# The set-up program's pages, opened as whoever installs does, up to the folder page. The
# room its files take, in MB of 1024 KB: each file counted in whole KB, as NSIS counts them.
room_mb() {  # room_mb ARCH: the programs of that build, the schemas and the stylesheets
  local kb=0 file size
  for file in "$packed/$1"/* "$root"/schema/*.xsd "${stylesheets[@]/#/$root/xsl/}"; do
    size=$(stat -c %s "$file")
    kb=$((kb + (size + 1023) / 1024))
  done
  echo "$kb"
}
for row in "64|x86_64|$dir64" "32|i686|$dir32"; do
  IFS='|' read -r bits arch dir <<<"$row"
  set_app_paths "$(win_path "$dir");"
  rm -f "$work/room.txt"
  wine_run "$bin/setup_pages_probe.exe" "$setup" "Spazio richiesto: " "$(win_path "$work/room.txt")" >>"$log" 2>&1 ||
    { fail "$bits bits: the folder page did not show the room needed"; continue; }
  shown=$(sed -n 's/^Spazio richiesto: \([0-9.]*\) MB$/\1/p' "$work/room.txt")
  expected_kb=$(room_mb "$arch")
  # Shown with one decimal: within a tenth of the build's own room, far from both builds'.
  awk -v shown="$shown" -v kb="$expected_kb" 'BEGIN { d = shown - kb / 1024; exit !(shown != "" && d < 0.15 && d > -0.15) }' ||
    fail "$bits bits: the folder page says '$(cat "$work/room.txt")', the build takes $((expected_kb / 1024)).$((expected_kb % 1024 * 10 / 1024)) MB"
done

# ---- a folder chosen with /D=, kept by the next installation, of either build ----
set_app_paths "$(win_path "$dir64");"
install "/D=$(win_path "$custom")"
((status == 0)) || fail "/D=: the set-up program ended with $status"
expect_installed "/D=" 64 "$custom" "$dir64"
set_app_paths "$(win_path "$dir32");"
install
((status == 0)) || fail "after /D=: the set-up program ended with $status"
expect_installed "after /D=" 32 "$custom" "$dir32"

# ---- over the installation of an earlier 32-bit set-up program ----
# It listed its installation in the registry's 32-bit view, and its stylesheets went to
# the product's directory of the time.
remove_installation
old="$work/PraxiloVecchio"  # no space: the value ends with a backslash
mkdir -p "$programs32/schema" "$old"
cp "$bin32/pivzona12.exe" "$bin32/pivzona12-cli.exe" "$programs32/"
printf 'disinstallazione\n' >"$programs32/Disinstalla.exe"
for xsd in "${schemas[@]}"; do cp "$root/schema/$xsd" "$programs32/schema/"; done
for xsl in "${stylesheets[@]}"; do cp "$root/xsl/$xsl" "$old/"; done
reg add "$uninstall_key" /v InstallLocation /d "$(win_path "$programs32")" /f /reg:32 &&
  reg add "$uninstall_key" /v PraxiloDir /d "$(win_path "$old")\\" /f /reg:32 || die "cannot write the earlier uninstall entry"
set_app_paths "$(win_path "$dir64");"
install
((status == 0)) || fail "over an earlier 32-bit set-up program's installation: the set-up program ended with $status"
expect_installed "over an earlier 32-bit set-up program's installation" 64 "$programs64" "$dir64"
[[ -z $(ls -A "$old") ]] || fail "the earlier installation's stylesheets stay: $(ls "$old" | tr '\n' ' ')"

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
# The earlier directory holds no PE file (32 bits), the product's own a praxiapi.dll of 64.
expect_installed "the product's directory" 64 "$programs64" "$product"

# ---- what the installation left ----
for file in pivzona12.exe pivzona12-cli.exe Disinstalla.exe "${schemas[@]/#/schema/}"; do
  [[ -f $programs64/$file ]] || fail "$file is not installed"
done
[[ -f $shortcut ]] || fail "no Start-menu entry"
# The entry starts the program in the product's directory (its one path besides the target's).
tr -d '\000' <"$shortcut" | grep -aqF "$product_win" || fail "the Start-menu entry does not start in $product_win"
wine_run "$reg_exe" query "$uninstall_key" >"$work/key.txt" 2>&1 || fail "not listed among the installed programs"
for expected in "DisplayName    REG_SZ    PIV ZONA12" "UninstallString    REG_SZ    \"C:\\Program Files\\PIV ZONA12\\Disinstalla.exe\"" \
  "PraxiloDir    REG_SZ    $product_win\\" "DisplayIcon    REG_SZ    C:\\Program Files\\PIV ZONA12\\pivzona12.exe,0"; do
  grep -qF -- "$expected" "$work/key.txt" || fail "the uninstall entry lacks: $expected"
done
[[ $(snapshot "$product" "$ours") == $(cat "$work/product.before") ]] ||
  fail "the installation changed the records product's own files"

# ---- the installed command line: a report and its page, on the system registry alone ----
mkdir -p "$work/reports"
printf 'demo\n' >"$work/password"
status=0
(cd "$work/reports" && wine_run "$programs64/pivzona12-cli.exe" --programme diabete --user demo --password-stdin \
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
wine_run "$programs64/Disinstalla.exe" /S >>"$log" 2>&1 || status=$?
((status == 0)) || fail "the uninstaller ended with $status"
# It works from a copy of itself, so that it can remove itself: the folder goes last.
for _ in $(seq 600); do [[ -e $programs64 ]] || break; sleep 0.1; done
[[ ! -e $programs64 ]] || die "the programs' folder is still there: $(cd "$programs64" && find . | tr '\n' ' ')"
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
echo "set-up program: refusals, choice of build, installation, upgrades, run and uninstallation as expected"
