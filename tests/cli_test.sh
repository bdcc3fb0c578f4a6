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

# An option that does not exist is named, with the one meant when one is near, before any
# option it leaves missing.
while IFS='|' read -r name expected args; do
  read -ra words <<<"$args"
  run demo "${words[@]}"
  check "unknown option: $name" 3 "$status" "$expected" "$work/err" "Usare --help" "$work/err"
  grep -q "manca l'opzione" "$work/err" && check "unknown option: $name: said first" 0 1 ||
    check "unknown option: $name: said first" 0 0
done <<ROWS
misspelt, leaving a required one missing|l'opzione --programma non esiste; forse --programme?|--programma diabete --user demo --output x.xml
misspelt with its value|l'opzione --outptu non esiste; forse --output?|--programme tao --outptu=x.xml
one dash short|l'opzione -output non esiste; forse --output?|--programme tao -output x.xml
swapped letters|l'opzione --form non esiste; forse --from?|--programme tao --form 2025-01-01 --output x.xml
the start of a name|l'opzione --xml non esiste; forse --xml-only?|--programme tao --xml --output x.xml
nothing near|l'opzione --verbose non esiste|--programme tao --verbose --output x.xml
ROWS
run demo --programme tao --verbose --output "$work/x.xml"
grep -q "forse" "$work/err" && check "unknown option: nothing near: no guess" 0 1 ||
  check "unknown option: nothing near: no guess" 0 0
run demo --programma diabete --usr demo --output "$work/x.xml"
check "two unknown options, each named" 3 "$status" "l'opzione --programma non esiste; forse --programme?" "$work/err" \
  "l'opzione --usr non esiste; forse --user?" "$work/err"
[[ ! -e "$work/x.xml" ]] && check "unknown option: nothing written" 0 0 || check "unknown option: nothing written" 0 1

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

# The working file is the run's own, in the installation's Temp folder: files of the
# programmes' names in the current folder (a link, a doctor's own list) stay as they are.
echo "da non toccare" >"$work/victim"
ln -s "$work/victim" "$work/Tao.txt"
echo "elenco del medico" >"$work/Diabetici.txt"
run demo --programme tao --user demo --output "$work/t2.xml"
check "working file link not followed" 0 "$status" "da non toccare" "$work/victim"
run demo --programme diabete --user demo --output "$work/d2.xml"
check "a doctor's Diabetici.txt stays" 0 "$status" "elenco del medico" "$work/Diabetici.txt" "<assistito>" "$work/d2.xml"
[[ -L "$work/Tao.txt" && -z "$(find "$work/inst/Temp" -maxdepth 1 -name '.*.tmp')" ]] &&
  check "no working file left" 0 0 || check "no working file left" 0 1
rm -f "$work/Tao.txt" "$work/Diabetici.txt"

# A working file left by a killed run (its process gone, older than this run) goes.
leftover="$work/inst/Temp/.Diabetici.txt.2000000000.k1ll3d.tmp"
echo "Rossi Anna" >"$leftover"
touch -d '1 hour ago' "$leftover"
run demo --programme diabete --user demo --output "$work/d3.xml"
[[ $status == 0 && ! -e "$leftover" ]] && check "killed run's working file removed" 0 0 ||
  check "killed run's working file removed" 0 1

# Links in the installation folder are not followed for writing: the page replaces a link
# in its place; a Temp folder that is a link is refused and nothing is made where it leads.
echo "pagina del medico" >"$work/victim.html"
ln -sf "$work/victim.html" "$work/inst/ZONA12.html"
run demo --programme tao --user demo --output "$work/t5.xml"
check "page over a link" 0 "$status" "da non toccare" "$work/victim" "pagina del medico" "$work/victim.html"
[[ ! -L "$work/inst/ZONA12.html" ]] && grep -q '</html>' "$work/inst/ZONA12.html" && check "link replaced by the page" 0 0 ||
  check "link replaced by the page" 0 1
mkdir "$work/fuori"
mv "$work/inst/Temp" "$work/inst/Temp.away"
ln -s "$work/fuori" "$work/inst/Temp"
run demo --programme tao --user demo --output "$work/x.xml"
check "Temp a link" 4 "$status" "Estrazione interrotta: " "$work/err"
# (The records server's own dump may land there: that is the server's doing.)
[[ ! -e "$work/fuori/Log" && -z "$(find "$work/fuori" -name '.*.tmp')" && ! -e "$work/x.xml" ]] &&
  check "Temp a link: nothing made through it" 0 0 || check "Temp a link: nothing made through it" 0 1
rm "$work/inst/Temp" && mv "$work/inst/Temp.away" "$work/inst/Temp"

# A password longer than 4096 bytes is refused before anything is sent (exit 3), however
# it comes, and however long it is: a stream without a line end is not read to its end.
long_password=$(head -c 4097 /dev/zero | tr '\0' p)
printf '%s\n' "$long_password" | "$bin/pivzona12-cli" --programme tao --user demo --output "$work/x.xml" \
  --password-stdin >"$work/out" 2>"$work/err"
check "password of 4097 bytes on standard input" 3 "$?" "password troppo lunga: al massimo 4096 byte" "$work/err"
head -c 300000000 /dev/zero | "$bin/pivzona12-cli" --programme tao --user demo --output "$work/x.xml" \
  --password-stdin >"$work/out" 2>"$work/err"
check "endless password on standard input" 3 "${PIPESTATUS[1]}" "password troppo lunga" "$work/err"
PIVZONA12_PASSWORD="$long_password" "$bin/pivzona12-cli" --programme tao --user demo --output "$work/x.xml" \
  </dev/null >"$work/out" 2>"$work/err"
check "password of 4097 bytes in the environment" 3 "$?" "password troppo lunga" "$work/err"
printf '%s\r\n' "${long_password:1}" | "$bin/pivzona12-cli" --programme tao --user demo --output "$work/x.xml" \
  --password-stdin >"$work/out" 2>"$work/err"
check "password of 4096 bytes is tried" 2 "$?" "ERRORE: Dati Utente o Password non riconosciuti." "$work/err"
[[ ! -e "$work/x.xml" ]] && check "long passwords: nothing written" 0 0 || check "long passwords: nothing written" 0 1

# A page that cannot be produced: the report is saved, the page's path is not printed.
mv "$work/inst/Tao_to_HTML.xsl" "$work/Tao_to_HTML.xsl.away"
run demo --programme tao --user demo --output "$work/t3.xml"
check "page not produced" 5 "$status" "file xslt non trovato" "$work/err" "$work/t3.xml" "$work/out"
grep -q "ZONA12.html" "$work/out" && check "no page path printed" 0 1 || check "no page path printed" 0 0
mv "$work/Tao_to_HTML.xsl.away" "$work/inst/Tao_to_HTML.xsl"

printf 'demo\n' | "$bin/pivzona12-cli" --programme tao --user demo --output "$work/t4.xml" --password-stdin \
  >/dev/full 2>"$work/err"
check "failed write to standard output" 4 "$?" "standard output" "$work/err"

# Standard streams the caller closed: no file the run opens takes one's place, so that what
# the program writes there reaches no file (praxipat.log took standard output's place, and
# the paths went into it) and a failed write to standard output is exit 4.
log="$work/inst/Temp/Log/praxipat.log"
printf 'sbagliata\n' >"$work/wrong_password"
while IFS='|' read -r name expected redirections pattern stream; do
  : >"$log"
  rm -f "$work/closed.xml"
  : >"$work/out"
  : >"$work/err"
  eval "\"\$bin/pivzona12-cli\" --programme tao --user demo --output \"\$work/closed.xml\" --password-stdin $redirections"
  status=$?
  if [[ -n "$pattern" ]]; then check "$name" "$expected" "$status" "$pattern" "$work/$stream"; else check "$name" "$expected" "$status"; fi
  [[ -s "$log" ]] && ! grep -qF -e "closed.xml" -e "Dati Utente" -e "standard output" "$log" &&
    check "$name: the log holds its own lines only" 0 0 || check "$name: the log holds its own lines only" 0 1
  if [[ -e "$work/closed.xml" ]] && grep -qF -e "closed.xml" -e "ZONA12.html" "$work/closed.xml"; then
    check "$name: the report holds no output line" 0 1
  fi
done <<'ROWS'
standard output closed|4|<"$work/password" >&- 2>"$work/err"|impossibile scrivere i percorsi sullo standard output|err
standard error closed, refused|2|<"$work/wrong_password" >"$work/out" 2>&-||
standard error closed, saved|0|<"$work/password" >"$work/out" 2>&-|/closed.xml|out
standard input closed: no password|2|<&- >"$work/out" 2>"$work/err"|ERRORE: Dati Utente o Password non riconosciuti.|err
output and error closed|4|<"$work/password" >&- 2>&-||
ROWS

# An output that cannot be written is found before the first query, with the message and
# status a failure at the end of the run gives: a name longer than the folder takes, a full
# disk.
queries_sent() { grep -c 'sql_' "$log"; }
long_name="$work/$(printf 'n%.0s' $(seq 252)).xml"
: >"$log"
run demo --programme diabete --user demo --output "$long_name"
check "name too long" 4 "$status" \
  "Impossibile salvare il report: Impossibile scrivere il file '$long_name': File name too long" "$work/err"
check "name too long: no query sent" 0 "$(queries_sent)"
full="$work/full"
mkdir "$full"
if mount -t tmpfs -o size=64k tmpfs "$full" 2>/dev/null; then
  cat /dev/zero >"$full/filler" 2>/dev/null
  : >"$log"
  run demo --programme diabete --user demo --output "$full/d.xml"
  check "full disk" 4 "$status" \
    "Impossibile salvare il report: Impossibile scrivere il file '$full/d.xml': No space left on device" "$work/err"
  check "full disk: no query sent" 0 "$(queries_sent)"
  [[ -z "$(find "$full" -name '.d.xml.*')" && ! -e "$full/d.xml" ]] && check "full disk: nothing left" 0 0 ||
    check "full disk: nothing left" 0 1
  umount "$full"
else
  echo "skip full disk: a tmpfs cannot be mounted here (it needs root)"
fi

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

# A sign-in whose call fails is no refusal of the doctor: exit 4 with what went wrong, and
# none of the refusals. The stand-in server's calls of a sign-in: 1 new, 2 connetti, then
# each operation's probe (get_error) and call: 4 new_object, 6 leggi_attributo
# userid_utente, 8 tipo_praxi, 10 codice_regionale, ... 18 asl_di_convenzione.
#   FAULT CALL: timeout (no answer within the limit), gone (the server ends there and
#   cannot be started again), dies (it ends there every time it is started again),
#   failed (the server answers that call with an error)
cat >"$work/once-server" <<SCRIPT
#!/bin/sh
# The stand-in server, which starts once only.
[ -e "$work/started" ] && exit 1
touch "$work/started"
exec "$bin/praxilo-server" "\$@"
SCRIPT
chmod +x "$work/once-server"
grep -v '^@=' "$work/inst/registry.reg" >"$work/once.reg"
printf '@="\\"%s\\" \\"%s\\""\r\n' "$work/once-server" "$work/inst/praxilo.db" >>"$work/once.reg"
while read -r fault call expected; do
  name="sign-in: $fault at call $call"
  rm -f "$work/hold" "$work/started" "$work/x.xml"
  registry=$work/inst/registry.reg
  case $fault in
    timeout)
      touch "$work/hold"
      fault_env=(PIVZONA12_CALL_TIMEOUT_S=1 PRAXILO_SERVER_HOLD_FILE="$work/hold" PRAXILO_SERVER_HOLD_FROM="$call")
      ;;
    gone) fault_env=(PRAXILO_SERVER_EXIT_AFTER="$call") registry=$work/once.reg ;;
    dies) fault_env=(PRAXILO_SERVER_EXIT_AFTER="$call") ;;
    failed) fault_env=(PRAXILO_SERVER_FAIL_AT="$call") ;;
  esac
  printf 'demo\n' | env "${fault_env[@]}" PIVZONA12_REGISTRY="$registry" "$bin/pivzona12-cli" --programme tao \
    --user demo --output "$work/x.xml" --password-stdin >"$work/out" 2>"$work/err"
  check "$name" 4 "$?" "$expected" "$work/err"
  ! grep -q "ERRORE" "$work/err" && [[ ! -e "$work/x.xml" ]] && check "$name: no refusal, nothing saved" 0 0 ||
    { cat "$work/err"; check "$name: no refusal, nothing saved" 0 1; }
done <<'ROWS'
timeout 1 Praxilo non risponde.
timeout 2 Praxilo non risponde.
timeout 3 Praxilo non risponde.
timeout 4 Praxilo non risponde.
timeout 5 Praxilo non risponde.
timeout 6 Praxilo non risponde.
timeout 8 Praxilo non risponde.
timeout 10 Praxilo non risponde.
timeout 18 Praxilo non risponde.
gone 1 Impossibile avviare Praxilo:
gone 2 Impossibile avviare Praxilo:
gone 3 Impossibile avviare Praxilo: connessione con Praxilo interrotta
gone 4 Impossibile avviare Praxilo:
gone 5 Impossibile avviare Praxilo: connessione con Praxilo interrotta
gone 6 Impossibile avviare Praxilo: connessione con Praxilo interrotta
gone 8 Impossibile avviare Praxilo: connessione con Praxilo interrotta
gone 10 Impossibile avviare Praxilo: connessione con Praxilo interrotta
gone 18 Impossibile avviare Praxilo: connessione con Praxilo interrotta
dies 3 Impossibile avviare Praxilo:
dies 4 Impossibile avviare Praxilo:
dies 5 Impossibile avviare Praxilo:
failed 1 Impossibile avviare Praxilo: Errore simulato del server
failed 2 Impossibile avviare Praxilo: Errore simulato del server
failed 4 Impossibile avviare Praxilo: Errore simulato del server
failed 6 Impossibile avviare Praxilo: Errore simulato del server
failed 8 Impossibile avviare Praxilo: Errore simulato del server
failed 10 Impossibile avviare Praxilo: Errore simulato del server
failed 18 Impossibile avviare Praxilo: Errore simulato del server
ROWS
rm -f "$work/hold" "$work/started"

# A "Path" holding a NUL (as a string with environment references, hex(2)) whose part
# before the NUL is the installation: refused as a missing value, before signing in.
reg_hex() {  # reg_hex TEXT: the text's bytes (ASCII) as UTF-16LE hex pairs, each with a comma
  local text=$1 i hex out=""
  for ((i = 0; i < ${#text}; i++)); do printf -v hex '%02x' "'${text:i:1}"; out+="$hex,00,"; done
  printf '%s' "$out"
}
nul_path="hex(2):$(reg_hex "$work/inst")00,00,$(reg_hex "$work/altro;")00,00"
sed "s|^\"Path\"=.*|\"Path\"=$nul_path|" "$work/inst/registry.reg" >"$work/nulpath.reg"
rm -rf "$work/inst/Temp/Log"
PIVZONA12_REGISTRY="$work/nulpath.reg" run demo --programme tao --user demo --output "$work/x.xml"
check "installation path with a NUL" 4 "$status" "Installazione di Praxilo non trovata." "$work/err"
! grep -q "Dati Utente" "$work/err" && [[ ! -e "$work/inst/Temp/Log" && ! -e "$work/x.xml" ]] &&
  check "installation path with a NUL: nothing made" 0 0 || check "installation path with a NUL: nothing made" 0 1

# Three runs of one programme at once, in one folder, on one installation: each its own
# working file, each a complete report.
mkdir -p "$work/same"
for round in 1 2 3; do
  pids=()
  for n in 1 2 3; do
    (cd "$work/same" && exec "$bin/pivzona12-cli" --programme tao --user demo --output "$work/same/t$n.xml" \
      --password-stdin <"$work/password" >/dev/null 2>"$work/same/err$n") &
    pids+=($!)
  done
  statuses=0 whole=0
  for n in 1 2 3; do
    wait "${pids[n - 1]}" || statuses=$((statuses + 1))
    tail -c 7 "$work/same/t$n.xml" | grep -q '</tao>' && whole=$((whole + 1))
  done
  check "three tao runs at once, round $round" 0 "$statuses"
  check "three tao runs at once, round $round: three whole reports" 3 "$whole"
done
[[ -z "$(ls -A "$work/same" | grep -v -E '^(t[123]\.xml|err[123])$')" &&
  -z "$(find "$work/inst/Temp" -maxdepth 1 -name '.*.tmp')" ]] && check "three runs: nothing left" 0 0 ||
  check "three runs: nothing left" 0 1

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
working_file_of() {  # working_file_of PID: true once that run's working file is there
  compgen -G "$work/big/Temp/.Diabetici.txt.$1.*.tmp" >/dev/null
}
for _ in $(seq 200); do working_file_of "$cli_pid" && break; sleep 0.05; done
working_file_of "$cli_pid" && check "long run under way" 0 0 || check "long run under way" 0 1
sleep 0.3
kill -TERM "$cli_pid"
wait "$cli_pid"
term_status=$?
for _ in $(seq 100); do pgrep -f "$work/big/praxilo.db" >/dev/null || break; sleep 0.05; done
check "SIGTERM ends the run" 143 "$term_status"
[[ -z "$(find "$work/big/Temp" -maxdepth 1 -name '.*.tmp')" && -z "$(ls -A "$work/bigrun")" ]] &&
  check "working file gone" 0 0 || check "working file gone" 0 1
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
  for _ in $(seq 200); do working_file_of "$cli_pid" && break; sleep 0.05; done
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
[[ -z "$(find "$work/big/Temp" -maxdepth 1 -name '.*.tmp')" ]] && check "Ctrl-C: working file gone" 0 0 ||
  check "Ctrl-C: working file gone" 0 1

# A run killed outright leaves its working file; the next run of the programme there
# removes it once the killed run's process has ended, never a live run's.
start_long_run 600
killed_pid=$cli_pid
kill -KILL "$killed_pid"
{ wait "$killed_pid"; } 2>/dev/null
# Its server, left without its client, is ended here.
for server in $(pgrep -f "$work/big/praxilo.db"); do kill "$server"; done
server_gone "killed run"
working_file_of "$killed_pid" && check "killed run leaves its working file" 0 0 ||
  check "killed run leaves its working file" 0 1
sleep 1.1  # the leftover is older than the next run by the file system's clock
start_long_run 600
working_file_of "$killed_pid" && check "next run removes it" 0 1 || check "next run removes it" 0 0
kill -TERM "$cli_pid"
wait "$cli_pid"
server_gone "next run"

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
