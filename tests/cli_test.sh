#!/usr/bin/env bash
# Drives pivzona12-cli from outside on a small demo installation: exit statuses, the
# system's messages on standard error, the paths on standard output.
#   tests/cli_test.sh BIN_DIR
set -uo pipefail
bin="$(cd "$1" && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LANG=C.UTF-8 LC_ALL=C.UTF-8
unset PIVZONA12_CODEPAGE PIVZONA12_PASSWORD
"$bin/praxilo-demo" --dir "$work/inst" --patients 120 --seed 3 >/dev/null || { echo "praxilo-demo failed"; exit 1; }
export PIVZONA12_REGISTRY="$work/inst/registry.reg"
cd "$work"

passed=0
failed=0
check() {  # check NAME EXPECTED_STATUS ACTUAL_STATUS [grep-pattern file]...
  local name=$1 expected=$2 actual=$3
  shift 3
  local ok=1
  [[ "$actual" == "$expected" ]] || { echo "FAIL $name: status $actual, expected $expected"; ok=0; }
  while (($#)); do
    grep -qF -- "$1" "$2" || { echo "FAIL $name: '$1' not in $2:"; cat "$2"; ok=0; }
    shift 2
  done
  if ((ok)); then passed=$((passed + 1)); echo "ok   $name"; else failed=$((failed + 1)); fi
}

run() {  # run PASSWORD ARGS... ; sets status, out and err files
  local password=$1
  shift
  printf '%s\n' "$password" | "$bin/pivzona12-cli" "$@" --password-stdin >"$work/out" 2>"$work/err"
  status=$?
}

run demo --programme diabete --user demo --output "$work/d.xml"
check "diabete saved" 0 "$status" "$work/d.xml" "$work/out" "ZONA12.html" "$work/out" "<assistito>" "$work/d.xml"

run demo --programme tao --output "$work/t.xml"  # the last user from the registry
check "tao saved, user from the registry" 0 "$status" "$work/t.xml" "$work/out" "<consulenza>" "$work/t.xml"

PIVZONA12_PASSWORD=demo "$bin/pivzona12-cli" --programme vaccinazioni --output "$work/v.xml" </dev/null \
  >"$work/out" 2>"$work/err"
check "password from the environment" 0 "$?" "<antiInfluenzale>" "$work/v.xml"

run sbagliata --programme diabete --user demo --output "$work/x.xml"
check "wrong password refused" 2 "$status" "ERRORE: Dati Utente o Password non riconosciuti." "$work/err"

run demo --programme diabete --user sostituto --output "$work/x.xml"
check "not a titolare refused" 2 "$status" "ERRORE: Procedura riservata ai soli medici titolari." "$work/err"

run demo --programme diabete --user senzacodice --output "$work/x.xml"
check "blank regional code refused" 2 "$status" "\"Codice Regionale\" medico non è stato valorizzato" "$work/err"

run demo --programme vaccinazioni --user demo --from 2024-06-01 --to 2024-01-01 --output "$work/x.xml"
check "start after end: no patient" 1 "$status" "Nessun paziente estratto!" "$work/err"
[[ ! -e "$work/x.xml" ]] && check "no patient: nothing written" 0 0 || check "no patient: nothing written" 0 1

run demo --programme diabete --user demo --from 2024-02-30 --output "$work/x.xml"
check "invalid date" 3 "$status" "--from" "$work/err"

run demo --programme chirurgia --user demo --output "$work/x.xml"
check "unknown programme" 3 "$status"

run demo --programme diabete --user demo --output "$work/missing/dir/x.xml"
check "missing directory" 3 "$status" "non esiste" "$work/err"

run demo --programme diabete --user demo --output /proc/pivzona12-report.xml
check "unwritable path" 4 "$status" "Impossibile salvare il report" "$work/err"

rm -f "$work/inst/ZONA12.html"
run demo --programme diabete --user demo --xml-only --output "$work/only.xml"
check "xml only: report saved" 0 "$status" "<assistito>" "$work/only.xml" "$work/only.xml" "$work/out"
! grep -q "ZONA12.html" "$work/out" && [[ ! -e "$work/inst/ZONA12.html" ]] && check "xml only: no page" 0 0 ||
  check "xml only: no page" 0 1

echo "$passed passed, $failed failed"
((failed == 0))
