#!/usr/bin/env bash
# Fails, naming each file, when a C or C++ source of the project is not formatted as the
# repository's .clang-format says. Fix with: clang-format -i FILE...
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(find src standin tests bench -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' -o -name '*.c' \) | sort)
report=$(clang-format --dry-run -Werror "${files[@]}" 2>&1) && status=0 || status=$?
if ((status)); then
  echo "Not formatted (clang-format -i FILE...):" >&2
  grep -oE '^[^:]+:[0-9]+:[0-9]+: error' <<<"$report" | cut -d: -f1 | sort -u | sed 's/^/  /' >&2 || echo "$report" >&2
  exit 1
fi
echo "Formatting: ${#files[@]} files as .clang-format says"
