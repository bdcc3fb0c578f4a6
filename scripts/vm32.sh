#!/usr/bin/env bash
# A virtual machine that runs 32-bit Windows programs under Wine, for the tests of the
# i686 build (these machines run no 32-bit code of their own):
#   scripts/vm32.sh image                      build the guest image, if missing or stale
#   scripts/vm32.sh run [--timeout S] SCRIPT [WORD]
#                                              boot it, run `bash SCRIPT WORD` inside, in this
#                                              clone (shared into the guest at its own path),
#                                              power off; exit with the script's status
# The image is built from Debian packages by scripts/vm32-image.sh, its recipe, into the
# cache (outside the clone), and again whenever the recipe or scripts/wine-run.sh (which
# makes the guest's Wine prefix) changes. A run writes nothing to the image: its writes go
# to a temporary overlay, so that every run starts from the same prefix. Inside, Wine's
# prefix is $PIVZONA12_WINEPREFIX, used by scripts/wine-run.sh as on the host.
#
# QEMU uses KVM when it can boot the guest, else software emulation (TCG), with 2 virtual
# CPUs and 4 GB: the guest needs both of the machine's cores and should run alone. The
# guest's console (the script's output) is shown as it comes and kept in the log; QEMU is
# ended, by its process id, when the time limit (default 3600 s) runs out or this script
# is interrupted.
#
# Environment:
#   PIVZONA12_VM_CACHE  the image's folder (default /var/cache/pivzona12-vm)
#   PIVZONA12_VM_ACCEL  kvm or tcg, to skip the probe
#   PIVZONA12_VM_LOG    the console's log (default: $PIVZONA12_VM_CACHE/console.log)
# Needs (Debian packages): qemu-system-x86, mmdebstrap, e2fsprogs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
cache=$(realpath -m "${PIVZONA12_VM_CACHE:-/var/cache/pivzona12-vm}")
image=$cache/root.img
stamp=$cache/stamp
log=${PIVZONA12_VM_LOG:-$cache/console.log}

say() { echo "vm32: $*" >&2; }
die() {
  say "$*"
  exit 125
}

# The running QEMU and the process that shows its console, ended on any way out.
qemu_pid=""
tail_pid=""
end_qemu() {
  if [[ -n $qemu_pid ]] && kill -0 "$qemu_pid" 2>/dev/null; then
    kill "$qemu_pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$qemu_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$qemu_pid" 2>/dev/null || true
  fi
  if [[ -n $tail_pid ]]; then kill "$tail_pid" 2>/dev/null || true; fi
  qemu_pid="" tail_pid=""
}
trap end_qemu EXIT
trap 'end_qemu; exit 130' INT
trap 'end_qemu; exit 143' TERM

# The recipe's checksum: what the image was built from.
recipe_sum() { cat "$here/vm32-image.sh" "$here/wine-run.sh" | sha256sum | cut -d' ' -f1; }

# boot ACCEL TIMEOUT DISK_MODE LOG [KERNEL WORDS...]: boots the image, waits until it
# powers off or the time runs out, and sets guest_status to the status the guest printed
# (125 when it printed none). DISK_MODE: snapshot (writes thrown away) or write.
boot() {
  local accel=$1 timeout=$2 disk_mode=$3 console=$4
  shift 4
  local cpu=(-accel tcg -cpu max,smap=off) drive="file=$image,if=virtio,format=raw,cache=unsafe"
  # Under TCG, with SMAP on, every 64-bit Wine process is killed at its first iretq.
  [[ $accel == kvm ]] && cpu=(-accel kvm -cpu host)
  [[ $disk_mode == snapshot ]] && drive+=",snapshot=on"
  local share=()
  [[ -n ${share_dir:-} ]] && share=(-virtfs "local,path=$share_dir,mount_tag=host,security_model=none")
  : >"$console"
  qemu-system-x86_64 "${cpu[@]}" -smp 2 -m 4096 -nodefaults -no-reboot -display none -monitor none \
    -serial "file:$console" -kernel "$cache/vmlinuz" -initrd "$cache/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 quiet panic=1 init=/usr/local/sbin/pz-init $*" \
    -drive "$drive" "${share[@]}" -device virtio-rng-pci </dev/null >>"$console.qemu" 2>&1 &
  qemu_pid=$!
  if [[ ${show_console:-false} == true ]]; then
    tail -n +1 -f --pid="$qemu_pid" "$console" &
    tail_pid=$!
  fi
  local deadline=$((SECONDS + timeout))
  while kill -0 "$qemu_pid" 2>/dev/null && ((SECONDS < deadline)); do sleep 1; done
  if kill -0 "$qemu_pid" 2>/dev/null; then
    say "no power-off after ${timeout} s: QEMU ended"
  fi
  end_qemu
  wait 2>/dev/null || true
  guest_status=$(tr -d '\r' <"$console" | sed -n 's/^pz-guest-status: \([0-9]*\)$/\1/p' | tail -n 1)
  guest_status=${guest_status:-125}
}

# Sets accel: kvm when it boots the guest to its power-off, else tcg; remembered for this
# kernel, QEMU and image.
choose_accelerator() {
  if [[ -n ${PIVZONA12_VM_ACCEL:-} ]]; then
    accel=$PIVZONA12_VM_ACCEL
    return
  fi
  local key memo=$cache/accel
  key="$(uname -r) $(qemu-system-x86_64 --version | head -n 1) $(cat "$stamp")"
  if [[ -f $memo && $(sed -n 2p "$memo") == "$key" ]]; then
    accel=$(sed -n 1p "$memo")
    return
  fi
  accel=tcg
  if [[ -r /dev/kvm && -w /dev/kvm ]]; then
    share_dir="" show_console=false boot kvm 60 snapshot "$cache/kvm-probe.log"
    ((guest_status == 0)) && accel=kvm
  fi
  printf '%s\n%s\n' "$accel" "$key" >"$memo"
}

ensure_image() {
  mkdir -p "$cache"
  exec 8>"$cache/lock"
  flock 8
  local sum
  sum=$(recipe_sum)
  if [[ -f $stamp && $(cat "$stamp") == "$sum" && -f $image ]]; then
    exec 8>&-
    return 0
  fi
  local started=$SECONDS
  rm -f "$stamp" "$cache/accel"
  say "building the guest image in $cache (a few minutes)"
  bash "$here/vm32-image.sh" "$cache" 8>&-
  local built=$SECONDS
  # The Wine prefix, made inside the guest; under emulation without KVM.
  share_dir="" show_console=false boot tcg 1800 write "$cache/first-boot.log" pz_run=/usr/local/sbin/pz-first-boot 8>&-
  ((guest_status == 0)) || {
    tail -n 30 "$cache/first-boot.log" >&2
    die "the guest could not make its Wine prefix (status $guest_status; log: $cache/first-boot.log)"
  }
  echo "$sum" >"$stamp"
  say "guest image built: root file system $((built - started)) s, Wine prefix $((SECONDS - built)) s"
  exec 8>&-
}

case "${1:-}" in
  image)
    ensure_image
    ;;
  run)
    shift
    timeout=3600
    if [[ ${1:-} == --timeout ]]; then
      timeout=$2
      shift 2
    fi
    (($# >= 1 && $# <= 2)) || die "usage: vm32.sh run [--timeout S] SCRIPT [WORD]"
    [[ $root != *[[:space:]\"]* && $1 != *[[:space:]\"]* && ${2:-} != *[[:space:]\"]* ]] ||
      die "the clone's path, the script and its word go on the guest's kernel command line: no spaces or quotes"
    [[ -f $root/$1 ]] || die "no script $1 in $root"
    ensure_image
    choose_accelerator
    say "booting the guest ($accel, 2 CPUs, 4 GB); console log: $log"
    started=$SECONDS
    share_dir=$root show_console=true boot "$accel" "$timeout" snapshot "$log" \
      "pz_share=$root" "pz_run=$1" ${2:+"pz_arg=$2"}
    say "guest ended after $((SECONDS - started)) s with status $guest_status"
    exit "$guest_status"
    ;;
  *)
    die "usage: vm32.sh image | run [--timeout S] SCRIPT [WORD]"
    ;;
esac
