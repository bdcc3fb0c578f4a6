#!/usr/bin/env bash
# The i686 Windows build under 32-bit Wine, run inside the guest of scripts/vm32.sh (as
# `scripts/vm32.sh run tests/win32/guest32_test.sh ci|full`, from scripts/run.sh), in the
# clone shared at its own path. Three parts, each timed:
#   tests    the i686 test programs of what differs between the builds, by ctest in
#            build-windows-i686: the session against the i686 stand-in server in-process
#            (praxilo-server.dll) and, with full, as a local server; the logging library
#            loaded at run time with __stdcall and __cdecl exports; with full, the
#            registry's views and the stand-in server's own tests
#   demo     scripts/demo.sh build-windows-i686 --windows on the practice of the Linux
#            demo made beforehand in build-windows-i686/guest32/linux (its size in the
#            file "patients" there): the three reports must equal the Linux ones but for
#            dataOraProduzione, and their pages too (but for their code page and time)
#   setup    the 32-bit set-up program build-windows/PIVZONA12-setup.exe, run by 32-bit
#            Wine in the guest's 64-bit prefix (a 64-bit Windows running a 32-bit program):
#            tests/win32/installer_test.sh, whose product folders are 32- and 64-bit
# Every part runs even when an earlier one failed; the script fails when one did.
# MODE-PART (ci-demo, full-setup, ...) runs that part alone.
set -uo pipefail
mode=${1:-ci}
only=""
if [[ $mode == *-* ]]; then
  only=${mode#*-}
  mode=${mode%%-*}
fi
root=$(pwd)
exchange=$root/build-windows-i686/guest32
i686=$root/build-windows-i686
x86_64=$root/build-windows
objdump=/usr/bin/x86_64-w64-mingw32-objdump
export LANG=C.UTF-8 LC_ALL=C.UTF-8

case $mode in
  ci) tests='^(px_wrap_log_test|praxilo_com_test_inproc|integration_px_wrap_praxipat_test_inproc)$' ;;
  full) tests='^(px_wrap_log_test|registry_test|(praxilo_com_test|praxilo_server_test|integration_px_wrap_praxipat_test)(_inproc)?)$' ;;
  *)
    echo "usage: guest32_test.sh ci|full[-tests|-demo|-setup]" >&2
    exit 64
    ;;
esac

echo "guest32: $(uname -m), kernel $(uname -r), $(nproc) CPUs, $(/usr/lib/wine/wine --version)"
summary=()
failed=0
# part NAME COMMAND...: runs it, timed. Its output goes to a file, shown when it ends: the
# guest's console is a serial line, on which Wine redraws a console program's screen at
# every progress line, slowly.
part() {
  local name=$1 started=$SECONDS status=0
  shift
  [[ -z $only || $only == "$name" ]] || return 0
  echo "guest32: --- $name"
  "$@" >"$exchange/$name.log" 2>&1 || status=$?
  cat "$exchange/$name.log"
  summary+=("$(printf '%-8s %5d s  %s' "$name" $((SECONDS - started)) "$([[ $status == 0 ]] && echo ok || echo "FAILED ($status)")")")
  ((status == 0)) || failed=$((failed + 1))
}

wine_run() { bash "$root/scripts/wine-run.sh" "$@"; }

# with_wine COMMAND...: the command with one wineserver for the prefix, ended after it.
with_wine() {
  local status=0 started=$SECONDS
  wine_run --start || return
  echo "Wine started in $((SECONDS - started)) s"
  "$@" || status=$?
  wine_run --stop
  return "$status"
}

run_tests() { (cd "$i686" && with_wine ctest --output-on-failure -j2 -R "$tests"); }

# The report without its time of production.
without_time() { sed 's|<dataOraProduzione>[0-9]*</dataOraProduzione>||' "$1"; }
# A page in UTF-8 (the Windows programs write it in their code page, windows-1252, and say
# so), without its time of production (dd/mm/yyyy hh:mm).
page_text() {
  local from=UTF-8
  grep -q 'charset=windows-1252' "$1" && from=WINDOWS-1252
  iconv -f "$from" -t UTF-8 "$1" | sed -E 's/charset=windows-1252/charset=UTF-8/; s|[0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}|TIME|g'
}

# same_as_linux FILTER FILE WHAT: the Windows demo's report FILE against the Linux one,
# both read through FILTER.
same_as_linux() {
  local filter=$1 file=$2 what=$3
  cmp -s <("$filter" "$exchange/linux/reports/$file") <("$filter" "$exchange/windows/reports/$file") && return
  echo "FAIL: $file differs from the Linux demo's ($what):" >&2
  diff <("$filter" "$exchange/linux/reports/$file") <("$filter" "$exchange/windows/reports/$file") | head -n 20 >&2
  return 1
}

# The demo's installation lies on the guest's own disk: on the shared folder every call's
# dump file would cross the emulated machine's file sharing several times. Its reports are
# copied to build-windows-i686/guest32/windows.
run_demo() {
  local patients programme status=0 demo=/tmp/pivzona12-demo
  patients=$(cat "$exchange/linux/patients") || return
  PIVZONA12_DEMO_PATIENTS=$patients PIVZONA12_DEMO_DIR=$demo bash "$root/scripts/demo.sh" "$i686" --windows ||
    return
  rm -rf "$exchange/windows"
  mkdir -p "$exchange/windows"
  cp -r "$demo/reports" "$exchange/windows/"
  for programme in diabete tao vaccinazioni; do
    same_as_linux without_time "$programme.xml" "but for dataOraProduzione" || status=1
    same_as_linux page_text "$programme.html" "but for its code page and time" || status=1
  done
  ((status == 0)) && echo "the three reports and their pages equal the Linux demo's ($patients patients)"
  return "$status"
}

run_setup() {
  with_wine bash "$root/tests/win32/installer_test.sh" "$x86_64/bin" "$x86_64/PIVZONA12-setup.exe" "$i686/bin" "$objdump" "$x86_64/installer/files"
}

started=$SECONDS
part tests run_tests
part demo run_demo
part setup run_setup
echo "guest32: summary ($mode, $((SECONDS - started)) s in the guest):"
printf '  %s\n' "${summary[@]}"
((failed == 0))
