#!/usr/bin/env bash
# The program files that the set-up program packs, as it packs them (installer/CMakeLists.txt
# writes their list, from the list that also makes the set-up program's PROGRAMS macro):
# each is a PE file of its build's machine (i386 for i686, x86-64 for x86_64) that imports
# only DLLs of Windows itself, none of the toolchain (libstdc++, libgcc, libwinpthread)
# nor any other that a doctor's computer would lack. The i686 programs cannot run on these
# machines: this is what is checked of them besides their build.
#   tests/win32/packing_test.sh PACKED_LIST OBJDUMP TOOLCHAIN_DLL
# PACKED_LIST: lines "i686|x86_64 PATH"; OBJDUMP: an objdump that reads pe-i386 and
# pe-x86-64 (mingw-w64's x86_64 one does); TOOLCHAIN_DLL: a DLL of the toolchain
# (libstdc++-6.dll), which the check must refuse: it shows that the check can fail.
set -euo pipefail
list=$1
objdump=$2
toolchain_dll=$3
export LC_ALL=C

# The DLLs of Windows that a program may import, lower case.
allowed=(advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll
  oleaut32.dll shell32.dll shlwapi.dll user32.dll uxtheme.dll version.dll ws2_32.dll)

# check ARCH FILE: prints what is wrong with FILE, if anything; fails then.
check() {
  local arch=$1 file=$2 dump format expected dll problems=()
  if [[ ! -f $file ]]; then
    echo "$file: missing"
    return 1
  fi
  case $arch in
    i686) expected=pei-i386 ;;
    x86_64) expected=pei-x86-64 ;;
    *)
      echo "$file: unknown architecture $arch"
      return 1
      ;;
  esac
  if ! dump=$("$objdump" -p "$file" 2>&1); then
    echo "$file: not a PE file: ${dump##*: }"
    return 1
  fi
  format=$(sed -n 's/.*file format \(.*\)$/\1/p' <<<"$dump" | head -n 1)
  [[ $format == "$expected" ]] || problems+=("format ${format:-none}, not $expected")
  local -a dlls
  mapfile -t dlls < <(sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' <<<"$dump")
  # Every Windows program imports KERNEL32.dll: no import at all means the dump was not read.
  ((${#dlls[@]})) || problems+=("no imported DLL found")
  for dll in "${dlls[@]}"; do
    [[ " ${allowed[*]} " == *" ${dll,,} "* ]] || problems+=("imports $dll")
  done
  if ((${#problems[@]})); then
    local IFS=';'
    echo "$file: ${problems[*]}"
    return 1
  fi
}

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# ---- what the set-up program packs ----
declare -A count=([i686]=0 [x86_64]=0)
first_i686=""
while read -r arch file; do
  [[ -n $arch ]] || continue
  count[$arch]=$((${count[$arch]:-0} + 1))
  [[ $arch != i686 || -n $first_i686 ]] || first_i686=$file
  problem=$(check "$arch" "$file") || fail "$problem"
done <"$list"
for arch in i686 x86_64; do
  ((count[$arch] > 0)) || fail "the list $list names no $arch program"
done

# ---- files that the check must refuse, for the reason it gives ----
refused=(
  "an i686 program as an x86_64 one|x86_64|$first_i686|format pei-i386, not pei-x86-64"
  "a DLL of the toolchain|x86_64|$toolchain_dll|imports libgcc_s_seh-1.dll"
  "a file that is not a PE file|x86_64|$list|not a PE file"
  "a missing file|i686|$list.missing|missing"
)
for row in "${refused[@]}"; do
  IFS='|' read -r name arch file reason <<<"$row"
  if problem=$(check "$arch" "$file"); then
    fail "the check accepts $name ($file)"
  elif [[ $problem != *"$reason"* ]]; then
    fail "the check refuses $name for another reason than \"$reason\": $problem"
  fi
done

if ((failures)); then
  echo "$failures failed" >&2
  exit 1
fi
echo "packed programs: ${count[i686]} i686, ${count[x86_64]} x86_64, each of its machine, importing system DLLs only"
