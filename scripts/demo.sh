#!/usr/bin/env bash
# Builds a demo installation in build/demo and prints what it holds.
set -euo pipefail
bin="$1/bin"
demo="$1/demo"
rm -rf "$demo"
"$bin/praxilo-demo" --dir "$demo" --patients 2000 --seed 12
echo "Demo installation: $demo"
