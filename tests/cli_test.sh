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

printf 'demo\n' >"$work/password"
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
check "start after end refused" 3 "$status" "La data iniziale (Dal) è successiva alla data finale (Al)." "$work/err"
[[ ! -e "$work/x.xml" ]] && check "refused range: nothing written" 0 0 || check "refused range: nothing written" 0 1

run demo --programme diabete --user demo --from 2099-01-01 --to 2099-12-31 --output "$work/x.xml"
check "start after today refused" 3 "$status" "La data iniziale (Dal) è successiva alla data odierna." "$work/err"
[[ ! -e "$work/x.xml" ]] && check "future range: nothing written" 0 0 || check "future range: nothing written" 0 1

run demo --programme vaccinazioni --user demo --from 2000-01-01 --to 2000-12-31 --output "$work/x.xml"
check "no patient" 1 "$status" "Nessun paziente estratto!" "$work/err"
# The message's lines end as every other line on standard error: no CR of its own.
grep -q $'\r' "$work/err" && check "no patient: lines ended once" 0 1 || check "no patient: lines ended once" 0 0
[[ ! -e "$work/x.xml" ]] && check "no patient: nothing written" 0 0 || check "no patient: nothing written" 0 1

for option in --from --to; do
  run demo --programme tao --user demo "$option" "" --output "$work/x.xml"
  check "empty $option" 3 "$status" "$option" "$work/err"
done

run demo --programme diabete --user demo --from 2024-02-30 --output "$work/x.xml"
check "invalid date" 3 "$status" "--from" "$work/err"

run demo --programme chirurgia --user demo --output "$work/x.xml"
check "unknown programme" 3 "$status" "valore non ammesso per --programme: 'chirurgia' (ammessi: diabete, tao o vaccinazioni)" "$work/err"

# The help, the usage and the errors of the command line itself are Italian.
"$bin/pivzona12-cli" --help >"$work/out" 2>"$work/err"
check "help" 0 "$?" "Uso: pivzona12-cli [OPZIONI]" "$work/out" "Opzioni:" "$work/out" \
  "-h,--help                   mostra questo aiuto ed esce" "$work/out" "--output FILE OBBLIGATORIA" "$work/out"
grep -qE "Usage|Options|Print this|REQUIRED|TEXT" "$work/out" && check "help: no English" 0 1 || check "help: no English" 0 0
run demo --programme tao --user demo
check "missing option" 3 "$status" "manca l'opzione obbligatoria --output" "$work/err" "Usare --help" "$work/err"
run demo --programme tao --user demo --output "$work/x.xml" avanzo
check "unexpected argument" 3 "$status" "argomenti non previsti: avanzo" "$work/err"
"$bin/pivzona12-cli" --programme tao --output >"$work/out" 2>"$work/err"
check "option without its value" 3 "$?" "manca il valore dell'opzione --output" "$work/err"

# A call's time limit on the command line: whole seconds from 1 to a day, refused before
# anything is asked or written.
for limit in 0 86401 abc "" -5 1.5 " 5"; do
  run demo --programme tao --user demo --timeout "$limit" --output "$work/x.xml"
  check "--timeout '$limit' refused" 3 "$status" "valore non valido per --timeout: '$limit'" "$work/err" \
    "da 1 a 86400" "$work/err"
done
[[ ! -e "$work/x.xml" ]] && check "refused limit: nothing written" 0 0 || check "refused limit: nothing written" 0 1
run demo --programme tao --user demo --timeout 86400 --output "$work/t2.xml"
check "--timeout 86400 taken" 0 "$status" "$work/t2.xml" "$work/out"

run demo --programme diabete --user demo --output "$work/missing/dir/x.xml"
check "missing directory" 3 "$status" "non esiste" "$work/err"

run demo --programme diabete --user demo --output /proc/pivzona12-report.xml
check "unwritable path" 4 "$status" "Impossibile salvare il report" "$work/err"

# Output paths that are not files are refused before the run and left as they are.
mkfifo "$work/fifo.xml"
for target in "$work/fifo.xml" /dev/null "$work"; do
  run demo --programme tao --user demo --output "$target"
  check "output $target refused" 3 "$status" "Impossibile salvare il report in" "$work/err"
done
[[ -p "$work/fifo.xml" ]] && check "fifo left as it is" 0 0 || check "fifo left as it is" 0 1

# A link keeps pointing at the report it replaces; replaced files keep their bits, new
# reports are the owner's only.
mkdir "$work/reports"
echo "vecchio" >"$work/reports/t.xml"
chmod 640 "$work/reports/t.xml"
ln -s reports/t.xml "$work/link.xml"
run demo --programme tao --user demo --output "$work/link.xml"
check "report through a link" 0 "$status" "<consulenza>" "$work/reports/t.xml"
[[ -L "$work/link.xml" && $(stat -c %a "$work/reports/t.xml") == 640 ]] && check "link and bits kept" 0 0 ||
  check "link and bits kept" 0 1
run demo --programme tao --user demo --output "$work/nuovo.xml"
[[ $(stat -c %a "$work/nuovo.xml") == 600 && $(stat -c %a "$work/inst/ZONA12.html") == 600 ]] &&
  check "new report and page owner-only" 0 0 || check "new report and page owner-only" 0 1

# The working file is never written through a link planted in its place.
echo "da non toccare" >"$work/victim"
ln -s "$work/victim" "$work/Tao.txt"
run demo --programme tao --user demo --output "$work/t2.xml"
check "working file link not followed" 0 "$status" "da non toccare" "$work/victim"
[[ ! -e "$work/Tao.txt" && ! -L "$work/Tao.txt" ]] && check "working file removed" 0 0 || check "working file removed" 0 1

# A page that cannot be produced: the report is saved, the page's path is not printed.
mv "$work/inst/Tao_to_HTML.xsl" "$work/Tao_to_HTML.xsl.away"
run demo --programme tao --user demo --output "$work/t3.xml"
check "page not produced" 5 "$status" "file xslt non trovato" "$work/err" "$work/t3.xml" "$work/out"
grep -q "ZONA12.html" "$work/out" && check "no page path printed" 0 1 || check "no page path printed" 0 0
mv "$work/Tao_to_HTML.xsl.away" "$work/inst/Tao_to_HTML.xsl"

printf 'demo\n' | "$bin/pivzona12-cli" --programme tao --user demo --output "$work/t4.xml" --password-stdin \
  >/dev/full 2>"$work/err"
check "failed write to standard output" 4 "$?" "standard output" "$work/err"

# A server that cannot be started, and an installation that cannot be found.
sed 's|^@=.*|@="/nonexistent/praxilo-server"|' "$work/inst/registry.reg" >"$work/noserver.reg"
PIVZONA12_REGISTRY="$work/noserver.reg" run demo --programme tao --user demo --output "$work/x.xml"
check "server cannot be started" 4 "$status" "Impossibile avviare Praxilo: " "$work/err"
grep -v '^"Path"=' "$work/inst/registry.reg" >"$work/noinst.reg"
root_temp_before=$([[ -e /Temp ]] && echo 1 || echo 0)
PIVZONA12_REGISTRY="$work/noinst.reg" run demo --programme tao --user demo --output "$work/x.xml"
check "installation not found" 4 "$status" "Installazione di Praxilo non trovata." "$work/err"
[[ $root_temp_before == 1 || ! -e /Temp ]] && check "nothing made under /" 0 0 || check "nothing made under /" 0 1
# A "Path" that names no folder (one that is not there, a relative one): the same, before
# signing in, and no Temp folder is made where it points.
for bad in "$work/manca" "Praxilo"; do
  sed "s|^\"Path\"=.*|\"Path\"=\"$bad;\"|" "$work/inst/registry.reg" >"$work/badpath.reg"
  PIVZONA12_REGISTRY="$work/badpath.reg" run demo --programme tao --user demo --output "$work/x.xml"
  check "installation path $bad" 4 "$status" "Installazione di Praxilo non trovata." "$work/err"
  ! grep -q "Dati Utente" "$work/err" && [[ ! -e "$work/manca" && ! -e "$work/Praxilo" && ! -e "$work/x.xml" ]] &&
    check "installation path $bad: nothing made" 0 0 || check "installation path $bad: nothing made" 0 1
done

# Two runs at once on one installation: the page is always whole, whoever wrote it last.
mkdir -p "$work/one" "$work/two"
page="$work/inst/ZONA12.html"
cut_pages=0
for round in 1 2 3; do
  (cd "$work/one" && "$bin/pivzona12-cli" --programme diabete --user demo --output "$work/one/d.xml" \
    --password-stdin <"$work/password" >/dev/null 2>&1) &
  one=$!
  (cd "$work/two" && "$bin/pivzona12-cli" --programme vaccinazioni --user demo --output "$work/two/v.xml" \
    --password-stdin <"$work/password" >/dev/null 2>&1) &
  two=$!
  while kill -0 "$one" 2>/dev/null || kill -0 "$two" 2>/dev/null; do
    tail -c 9 "$page" | grep -q '</html>' || cut_pages=$((cut_pages + 1))
  done
  wait "$one"; s1=$?
  wait "$two"; s2=$?
  check "two runs at once, round $round" 0 $((s1 + s2))
done
check "page never empty or cut ($cut_pages)" 0 "$cut_pages"
[[ -z "$(find "$work/inst" -maxdepth 1 -name '.ZONA12.html.*')" ]] && check "no temporary page left" 0 0 ||
  check "no temporary page left" 0 1

# SIGTERM in the middle of a long run: the working file and the dumps go, the server ends.
"$bin/praxilo-demo" --dir "$work/big" --patients 1500 --seed 5 >/dev/null
mkdir "$work/bigrun"
cd "$work/bigrun"
PIVZONA12_REGISTRY="$work/big/registry.reg" "$bin/pivzona12-cli" --programme diabete --user demo \
  --output "$work/bigrun/d.xml" --password-stdin <"$work/password" >/dev/null 2>&1 &
cli_pid=$!
cd "$work"
for _ in $(seq 200); do [[ -e "$work/bigrun/Diabetici.txt" ]] && break; sleep 0.05; done
[[ -e "$work/bigrun/Diabetici.txt" ]] && check "long run under way" 0 0 || check "long run under way" 0 1
sleep 0.3
kill -TERM "$cli_pid"
wait "$cli_pid"
term_status=$?
for _ in $(seq 100); do pgrep -f "$work/big/praxilo.db" >/dev/null || break; sleep 0.05; done
check "SIGTERM ends the run" 143 "$term_status"
[[ ! -e "$work/bigrun/Diabetici.txt" && ! -e "$work/bigrun/d.xml" ]] && check "working file gone" 0 0 ||
  check "working file gone" 0 1
leftover=$(find "$work/big/Temp" -name 'dump_*' | wc -l)
check "dump files gone ($leftover left)" 0 "$leftover"
pgrep -f "$work/big/praxilo.db" >/dev/null && check "server ended" 0 1 || check "server ended" 0 0

# A server stopped where it stands in the middle of a run: at the call's time limit the
# run fails (exit 4) and the server is ended; Ctrl-C does not wait for the limit.
start_long_run() {  # start_long_run LIMIT_SECONDS [OPTION...]: sets cli_pid once the run is under way
  rm -rf "$work/bigrun" && mkdir "$work/bigrun"
  (cd "$work/bigrun" && PIVZONA12_CALL_TIMEOUT_S=$1 PIVZONA12_REGISTRY="$work/big/registry.reg" \
    exec "$bin/pivzona12-cli" --programme diabete --user demo --output "$work/bigrun/d.xml" "${@:2}" \
    --password-stdin <"$work/password" >/dev/null 2>"$work/err") &
  cli_pid=$!
  for _ in $(seq 200); do [[ -e "$work/bigrun/Diabetici.txt" ]] && break; sleep 0.05; done
  sleep 0.3
}
stop_server() { pkill -STOP -f "$work/big/praxilo.db"; }
server_gone() {  # server_gone NAME
  for _ in $(seq 100); do pgrep -f "$work/big/praxilo.db" >/dev/null || break; sleep 0.05; done
  pgrep -f "$work/big/praxilo.db" >/dev/null && check "$1: server ended" 0 1 || check "$1: server ended" 0 0
}
start_long_run 2
stop_server
wait "$cli_pid"
check "stopped server: run fails at the limit" 4 "$?" "Estrazione interrotta: Praxilo non risponde." "$work/err"
[[ ! -e "$work/bigrun/d.xml" ]] && check "stopped server: nothing saved" 0 0 || check "stopped server: nothing saved" 0 1
server_gone "stopped server"
# --timeout wins over the environment's limit: the run fails at its 2 s, not at 600.
start_long_run 600 --timeout 2
stop_server
started=$SECONDS
wait "$cli_pid"
check "--timeout over the environment: fails at its limit" 4 "$?" "Estrazione interrotta: Praxilo non risponde." "$work/err"
((SECONDS - started < 60)) && check "--timeout over the environment: in time" 0 0 ||
  check "--timeout over the environment: in time" 0 1
server_gone "--timeout over the environment"
start_long_run 600
stop_server
kill -INT "$cli_pid"
wait "$cli_pid"
check "Ctrl-C while the server is stopped" 130 "$?"
server_gone "Ctrl-C while the server is stopped"

# Standard output whose reader has gone: the paths cannot be written, which is exit 4 with
# a message, not a silent death by SIGPIPE.
"$bin/pivzona12-cli" --programme tao --user demo --output "$work/pipe.xml" --password-stdin \
  <"$work/password" 2>"$work/err" | true
check "closed standard output" 4 "${PIPESTATUS[0]}" "impossibile scrivere i percorsi" "$work/err"

rm -f "$work/inst/ZONA12.html"
run demo --programme diabete --user demo --xml-only --output "$work/only.xml"
check "xml only: report saved" 0 "$status" "<assistito>" "$work/only.xml" "$work/only.xml" "$work/out"
! grep -q "ZONA12.html" "$work/out" && [[ ! -e "$work/inst/ZONA12.html" ]] && check "xml only: no page" 0 0 ||
  check "xml only: no page" 0 1

echo "$passed passed, $failed failed"
((failed == 0))
