#!/usr/bin/env bash
# The calls into the records product's logging library in the 32-bit programs: each of
# px_tools::call_log_open, call_log_signal and call_log_destroy sets up a frame pointer
# (push %ebp; mov %esp,%ebp), makes one indirect call, and after it touches the stack
# pointer no more before "leave; ret" restores it from the frame. So the stack is right
# whether the library's exports remove their own arguments (__stdcall) or not (__cdecl).
#   tests/win32/praxiapi_calls_check.sh OBJDUMP PROGRAM.exe...
set -euo pipefail
objdump=$1
shift
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

for program in "$@"; do
  listing=$("$objdump" -d -C --no-show-raw-insn "$program")
  for function in call_log_open call_log_signal call_log_destroy; do
    # The function's instructions, one per line, without addresses: from its label to the
    # first blank line.
    body=$(awk -v name="<px_tools::$function(" '
      index($0, name) && /:$/ { inside = 1; next }
      inside && NF == 0 { exit }
      inside { sub(/^[ \t]*[0-9a-f]+:[ \t]*/, ""); print }' <<<"$listing")
    where="$(basename "$program"): $function"
    if [[ -z $body ]]; then
      fail "$where: not found"
      continue
    fi
    mapfile -t code <<<"$body"
    [[ ${code[0]} == "push   %ebp" && ${code[1]} == "mov    %esp,%ebp" ]] ||
      fail "$where: no frame pointer: ${code[0]}; ${code[1]}"
    calls=$(grep -c '^call ' <<<"$body" || true)
    ((calls == 1)) || fail "$where: $calls calls, expected one"
    after=$(awk '/^call /{ seen = 1; next } seen && /^leave/{ exit } seen { print }' <<<"$body")
    grep -Eq '%esp|^(push|pop|ret)' <<<"$after" && fail "$where: the stack pointer is used after the call: $after"
    tail_code=$(awk '/^call /{ seen = 1; next } seen && /^leave/{ getline; print "leave;" $0; exit }' <<<"$body")
    [[ $tail_code == "leave;ret"* ]] || fail "$where: the call is not followed by leave; ret"
    grep -Eq '^call +\*' <<<"$body" || fail "$where: the call is not indirect"
  done
done
if ((failures)); then
  echo "$failures failed" >&2
  exit 1
fi
echo "the logging library's calls keep the stack whatever the library's calling convention"
