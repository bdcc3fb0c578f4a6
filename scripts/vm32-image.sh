#!/usr/bin/env bash
# The recipe of the guest image in which scripts/vm32.sh runs the 32-bit Windows programs:
# Debian 12 (amd64 with the i386 architecture) from Debian's packages only, with Wine's
# 32- and 64-bit parts and Debian's own amd64 kernel, whose 32-bit support these machines'
# own kernel lacks in practice (they run no 32-bit code).
#   scripts/vm32-image.sh DIR   build DIR/root.img, DIR/vmlinuz and DIR/initrd.img
# scripts/vm32.sh calls it when DIR's stamp differs from this script's and wine-run.sh's
# checksum, then boots the image once, writable, to run /usr/local/sbin/pz-first-boot (the
# Wine prefix, made as scripts/wine-run.sh makes one: a first program that has to make it
# itself may exceed Wine's boot wait under emulation).
#
# The guest's PID 1 is /usr/local/sbin/pz-init. It takes its orders from the kernel's
# command line, whose unknown name=value words reach it as environment variables:
#   pz_share=DIR   mount the host's folder shared as "host" (9p) at DIR
#   pz_run=FILE    run `bash FILE $pz_arg` in DIR (or /), then print "pz-guest-status: N"
#   pz_arg=WORD    the one argument given to FILE
# and powers off: wineserver ended first (or the prefix's registry is not saved), the
# disk synced and made read-only, then nothing more read from it.
#
# Needs (Debian packages): mmdebstrap, e2fsprogs. Uses the machine's own apt sources.
set -euo pipefail
dir=$1
root_dir=$dir/root
image=$dir/root.img
here=$(cd "$(dirname "$0")" && pwd)

say() { echo "vm32-image: $*" >&2; }

rm -rf "$root_dir" "$image" "$dir/vmlinuz" "$dir/initrd.img"
mkdir -p "$dir"

# The machine's own sources, deb822 and one-line files alike; mmdebstrap reads them on stdin.
sources() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [[ -f $f ]] || continue
    cat "$f"
    echo
  done
}

# The initial RAM disk holds the few modules that mount the root file system (a virtio
# disk, ext4), not most of them: made in minutes less, on each of the kernel's triggers.
initramfs_hook='mkdir -p "$1/etc/initramfs-tools/conf.d" "$1/usr/share/initramfs-tools/modules.d" &&
  echo MODULES=list >"$1/etc/initramfs-tools/conf.d/pivzona12" &&
  printf "virtio_pci\nvirtio_blk\next4\n" >"$1/usr/share/initramfs-tools/modules.d/pivzona12"'
# wine, wine64, wine32 and libwine:i386: Wine's two parts. cmake: ctest, which runs the
# build's tests by their names. libxml2-utils: xmllint, for the demo's schema check.
# procps: pgrep. binutils-mingw-w64-x86-64: objdump, which tells the programs' machines.
say "root file system (mmdebstrap)"
sources | mmdebstrap --variant=minbase --architectures=amd64,i386 \
  --include=linux-image-amd64,kmod,wine,wine64,wine32,libwine:i386,cmake,libxml2-utils,procps,binutils-mingw-w64-x86-64 \
  --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
  --essential-hook="$initramfs_hook" \
  bookworm "$root_dir" - >"$dir/mmdebstrap.log" 2>&1 || {
  tail -n 30 "$dir/mmdebstrap.log" >&2
  exit 1
}

cp "$root_dir"/boot/vmlinuz-* "$dir/vmlinuz"
cp "$root_dir"/boot/initrd.img-* "$dir/initrd.img"

mkdir -p "$root_dir/usr/local/lib/pivzona12"
cp "$here/wine-run.sh" "$root_dir/usr/local/lib/pivzona12/wine-run.sh"

cat >"$root_dir/usr/local/sbin/pz-init" <<'EOF'
#!/bin/bash
# PID 1 of the 32-bit test guest (see scripts/vm32-image.sh in the project).
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TERM=dumb
export PIVZONA12_WINEPREFIX=/var/lib/pivzona12/wineprefix
# The initial RAM disk hands over /proc, /sys and /dev mounted.
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sysfs /sys
mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
hostname pz-guest32
# A FIFO held open both ways never ends a read: the wait at the end reads nothing from disk.
mkfifo /run/hold
exec 3<>/run/hold

status=0
where=/
if [[ -n ${pz_share:-} ]]; then
  modprobe -a 9pnet_virtio 9p
  mkdir -p "$pz_share"
  if mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=loose host "$pz_share"; then
    where=$pz_share
  else
    echo "pz-init: cannot mount the shared folder at $pz_share"
    status=125
  fi
fi
if ((status == 0)) && [[ -n ${pz_run:-} ]]; then
  (cd "$where" && bash "$pz_run" ${pz_arg:+"$pz_arg"}) </dev/null || status=$?
fi
echo "pz-guest-status: $status"

# Wine keeps the prefix's registry in memory until its server ends.
WINEPREFIX=$PIVZONA12_WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null
WINEPREFIX=$PIVZONA12_WINEPREFIX /usr/lib/wine/wineserver -w 2>/dev/null
sync
[[ $where == / ]] || umount "$where"
mount -o remount,ro /
sync
echo o >/proc/sysrq-trigger
while :; do read -r -t 3600 -u 3 _ || :; done
EOF

cat >"$root_dir/usr/local/sbin/pz-first-boot" <<'EOF'
#!/bin/bash
# Run once when the image is made: the Wine prefix of the guest's runs, made by the
# project's wine-run.sh (headless, Wine's null graphics driver, no Gecko or Mono).
set -e
bash /usr/local/lib/pivzona12/wine-run.sh --start
bash /usr/local/lib/pivzona12/wine-run.sh --stop
/usr/lib/wine/wine --version
EOF
chmod 755 "$root_dir/usr/local/sbin/pz-init" "$root_dir/usr/local/sbin/pz-first-boot"

# Room for the prefix and for what the test runs write inside the guest (a run's writes
# go to QEMU's temporary overlay, the image stays as built); the file is sparse.
say "ext4 image"
mkfs.ext4 -q -F -L pzroot -d "$root_dir" "$image" 10G
rm -rf "$root_dir"
