#!/usr/bin/env bash
# Times the three extractions on synthetic practices of two sizes and reports, per
# programme, the wall time and peak memory of pivzona12-cli (the server's own process
# is measured apart), and how the time grows from one size to the other.
#   bench/extraction_bench.sh [BUILD_DIR] [SMALL] [LARGE]
# Numbers to read, not a test: nothing here passes or fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(cd "${1:-build}" && pwd)"
small="${2:-2000}"
large="${3:-20000}"
bin="$build/bin"
work="$build/bench"
command -v /usr/bin/time >/dev/null || { echo "needs GNU time (apt-get install time)" >&2; exit 1; }

declare -A seconds
printf '%-13s %8s %10s %12s %10s\n' programme patients "wall (s)" "peak (MiB)" reported
for size in "$small" "$large"; do
  dir="$work/practice-$size"
  rm -rf "$dir"
  "$bin/praxilo-demo" --dir "$dir" --patients "$size" --seed 7 >/dev/null
  export PIVZONA12_REGISTRY="$dir/registry.reg"
  mkdir -p "$dir/out"
  for programme in diabete tao vaccinazioni; do
    stats="$dir/out/$programme.time"
    (cd "$dir/out" && echo demo | /usr/bin/time -f '%e %M' -o "$stats" "$bin/pivzona12-cli" --programme "$programme" \
      --user demo --password-stdin --output "$dir/out/$programme.xml" >/dev/null 2>&1) || true
    read -r wall peak_kib <"$stats"
    reported=$(grep -c "<assistito>" "$dir/out/$programme.xml" 2>/dev/null || echo 0)
    seconds[$programme-$size]=$wall
    printf '%-13s %8s %10s %12.1f %10s\n' "$programme" "$size" "$wall" "$(awk -v k="$peak_kib" 'BEGIN{print k/1024}')" "$reported"
  done
done
echo
for programme in diabete tao vaccinazioni; do
  a=${seconds[$programme-$small]}
  b=${seconds[$programme-$large]}
  awk -v p="$programme" -v a="$a" -v b="$b" -v s="$small" -v l="$large" \
    'BEGIN{printf "%-13s time x%.1f for patients x%.1f\n", p, b/(a+0.001), l/s}'
done
