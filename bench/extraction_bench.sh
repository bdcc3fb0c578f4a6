#!/usr/bin/env bash
# Times the three extractions on synthetic practices of two sizes and tells how far each
# run is from its floor: the same SQL statements run directly on the same database file in
# one process (floor-bench, on the statements the run's operation log traced). Per
# programme and size it prints the whole run's time, the --xml-only time, the floor, the
# two ratios, the same ratios in processor time (client and server together against the
# floor's own: the load of a shared machine stretches wall times, not these), the peak
# memory of each per byte of XML, and the machine's load average when the row was
# measured; then how time and memory grow from one size to the other. Each run is timed
# REPEATS times (3 unless set) and the fastest counts, as the best of the floor's passes does.
#   [REPEATS=3] bench/extraction_bench.sh [BUILD_DIR] [SMALL] [LARGE]
# Timed runs have the operation log off; range 2015-01-01 to 2026-12-31. Runs here are
# noisy: compare figures taken in one run of the script, and read the load beside them.
# Numbers to read, not a test: nothing here passes or fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(cd "${1:-build}" && pwd)"
small="${2:-2000}"
large="${3:-20000}"
bin="$build/bin"
work="$build/bench"
from=2015-01-01
to=2026-12-31
command -v /usr/bin/time >/dev/null || { echo "needs GNU time (apt-get install time)" >&2; exit 1; }
[[ -x "$bin/floor-bench" ]] || { echo "needs $bin/floor-bench (cmake --build $build --target floor-bench)" >&2; exit 1; }
xml_only_supported=0
"$bin/pivzona12-cli" --help 2>/dev/null | grep -q -- --xml-only && xml_only_supported=1

load() { cut -d' ' -f1 /proc/loadavg; }

# best_run DIR PROGRAMME XML [EXTRA ARGS]: timed_run repeated $repeats times (the floor is
# the best of its passes too); prints the fastest run's seconds and processor time and the
# highest peak memory of all, or "- - -" when any run failed.
repeats="${REPEATS:-3}"
best_run() {
  local best="" line i
  for ((i = 0; i < repeats; ++i)); do
    line=$(timed_run "$@")
    [[ "$line" != "- - -" ]] || { echo "- - -"; return; }
    best=$(awk -v a="$best" -v b="$line" 'BEGIN{
      if (a == "") { print b; exit }
      split(a, x, " "); split(b, y, " ")
      s = y[1] < x[1] ? y[1] : x[1]; c = y[1] < x[1] ? y[3] : x[3]; k = y[2] > x[2] ? y[2] : x[2]
      print s, k, c }')
  done
  echo "$best"
}

# timed_run DIR PROGRAMME XML [EXTRA ARGS]: prints "seconds peak_kib cpu_seconds" (the
# processor time of pivzona12-cli and the server it reaps), or "- - -" on failure.
timed_run() {
  local dir=$1 programme=$2 xml=$3
  shift 3
  local stats="$dir/out/time.txt"
  if (cd "$dir/out" && echo demo | /usr/bin/time -f '%e %M %U %S' -o "$stats" "$bin/pivzona12-cli" \
    --programme "$programme" --user demo --password-stdin --from "$from" --to "$to" --output "$xml" "$@" \
    >/dev/null 2>&1); then
    awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }' "$stats"
  else
    echo "- - -"
  fi
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (a == "-" || b == "-" || b <= 0) print "-"; else printf "%.1f", a / b }'; }
per_byte() { awk -v k="$1" -v s="$2" 'BEGIN{ if (k == "-" || s <= 0) print "-"; else printf "%.1f", k * 1024 / s }'; }

declare -A run_s xml_s floor_s run_kib xml_bytes
echo "cores: $(nproc); range $from..$to; log off in timed runs; best of $repeats runs"
row() { printf '%-13s %8s %8s %8s %8s %7s %7s %8s %8s %8s %7s %7s %8s %8s %6s\n' "$@"; }
row programme patients "run s" "xml s" "floor s" run/fl xml/fl "run cpu" "xml cpu" "fl cpu" run/fl xml/fl \
  "B/B run" "B/B xml" load
for size in "$small" "$large"; do
  dir="$work/practice-$size"
  rm -rf "$dir"
  "$bin/praxilo-demo" --dir "$dir" --patients "$size" --seed 7 --today 2026-12-31 >/dev/null
  mkdir -p "$dir/out"
  sed 's/^"log"="yes"/"log"="no"/' "$dir/registry.reg" >"$dir/registry-off.reg"
  for programme in diabete tao vaccinazioni; do
    key="$programme-$size"
    # The statements of the run, from a run with the log on.
    export PIVZONA12_REGISTRY="$dir/registry.reg"
    rm -f "$dir/Temp/Log/praxipat.log"
    timed_run "$dir" "$programme" "$dir/out/$programme-log.xml" >/dev/null
    floor_line=$("$bin/floor-bench" --db "$dir/praxilo.db" --log "$dir/Temp/Log/praxipat.log" || true)
    floor_s[$key]=$(sed -n 's/.* seconds=\([0-9.]*\).*/\1/p' <<<"$floor_line")
    floor_cpu=$(sed -n 's/.* cpu_seconds=\([0-9.]*\).*/\1/p' <<<"$floor_line")
    [[ -n "${floor_s[$key]}" ]] || floor_s[$key]="-"
    [[ -n "$floor_cpu" ]] || floor_cpu="-"

    export PIVZONA12_REGISTRY="$dir/registry-off.reg"
    load_now=$(load)
    read -r run_s[$key] run_kib[$key] run_cpu < <(best_run "$dir" "$programme" "$dir/out/$programme.xml")
    xml_kib="-"
    xml_s[$key]="-"
    xml_cpu="-"
    if ((xml_only_supported)); then
      read -r xml_s[$key] xml_kib xml_cpu < <(best_run "$dir" "$programme" "$dir/out/$programme-only.xml" --xml-only)
    fi
    xml_bytes[$key]=$(stat -c %s "$dir/out/$programme.xml" 2>/dev/null || echo 0)
    row "$programme" "$size" "${run_s[$key]}" "${xml_s[$key]}" "${floor_s[$key]}" \
      "$(ratio "${run_s[$key]}" "${floor_s[$key]}")" "$(ratio "${xml_s[$key]}" "${floor_s[$key]}")" \
      "$run_cpu" "$xml_cpu" "$floor_cpu" "$(ratio "$run_cpu" "$floor_cpu")" "$(ratio "$xml_cpu" "$floor_cpu")" \
      "$(per_byte "${run_kib[$key]}" "${xml_bytes[$key]}")" "$(per_byte "$xml_kib" "${xml_bytes[$key]}")" "$load_now"
  done
done
echo
echo "B/B: peak memory of pivzona12-cli per byte of the saved XML"
echo "growth from $small to $large patients (x$(ratio "$large" "$small")):"
for programme in diabete tao vaccinazioni; do
  a="$programme-$small"
  b="$programme-$large"
  printf '%-13s run time x%s, xml-only time x%s, floor x%s, XML size x%s, peak memory x%s\n' "$programme" \
    "$(ratio "${run_s[$b]}" "${run_s[$a]}")" "$(ratio "${xml_s[$b]}" "${xml_s[$a]}")" \
    "$(ratio "${floor_s[$b]}" "${floor_s[$a]}")" "$(ratio "${xml_bytes[$b]}" "${xml_bytes[$a]}")" \
    "$(ratio "${run_kib[$b]}" "${run_kib[$a]}")"
done
