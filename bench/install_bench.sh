#!/usr/bin/env bash
# Wall time of a full installation on simulated 1 GB, 4 GB and 32 GB cards
# against the usual tool pipeline on image files of the same sizes (sfdisk
# with the same partition table, mkfs.fat for each partition, dd of the GRUB
# stage 1 and FAT stage 1.5 images), in the same run; then the system calls
# of each per 512-byte sector written, from strace -c.
#
# Usage: bench/install_bench.sh [build folder]   (default: build-bench)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-bench}"
case "$build" in /*) ;; *) build="$(pwd)/$build" ;; esac
for tool in sfdisk mkfs.fat dd strace; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/setup" >&2; exit 1; }
done
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 zel_install_bench zel_test_firmware >/dev/null
grub_dir=$(sed -n 's/^ZEL_GRUB_DIR:PATH=//p' "$build/CMakeCache.txt")
bench="$build/bench/zel_install_bench"

work=$(mktemp -d "${TMPDIR:-/tmp}/zel-install-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/files/boot/grub" "$work/firmware"
cp "$grub_dir/stage2" "$work/files/boot/grub/stage2"
cp "$root/demo/payload/menu.lst" "$work/files/boot/grub/menu.lst"
cp "$build/tests/system/firmware/bzImage" "$work/firmware/t6-board.fw"

now() { date +%s.%N; }
field() { sed -n "s/.*\\b$1=\\([^ ]*\\).*/\\1/p"; }
# Total calls of an strace -c summary file.
calls() { awk '$NF == "total" { print $4 }' "$1"; }
# Arithmetic with fractions, without bc.
calc() { awk "BEGIN { print $1 }"; }
# Bytes the write-family calls of an strace log returned.
written() { awk '/^[0-9]+ +(write|pwrite64|writev|pwritev)\(/ { n = $NF; if (n ~ /^[0-9]+$/) s += n } END { print s + 0 }' "$1"; }

# The tool pipeline on $work/peer.img, lay-out from $work/table. With a
# command prefix (strace) each step runs under it.
peer() {
  local size=$1; shift
  rm -f "$work/peer.img"; truncate -s "$size" "$work/peer.img"
  "$@" sfdisk -q "$work/peer.img" <"$work/table" >/dev/null
  local first count type
  while read -r first count type; do
    local fat=32 label=T6SC_DATA
    [ "$type" = 6 ] && fat=16 label=T6SC_BOOT
    "$@" mkfs.fat -F "$fat" -n "$label" --offset "$first" "$work/peer.img" $((count / 2)) >/dev/null 2>&1
  done <"$work/entries"
  "$@" dd if="$grub_dir/stage1" of="$work/peer.img" bs=446 count=1 conv=notrunc status=none
  "$@" dd if="$grub_dir/fat_stage1_5" of="$work/peer.img" bs=512 seek=1 conv=notrunc status=none
}

printf '%-6s | %-52s | %-36s\n' card "full sim installation (zel_install_bench)" "tool pipeline (sfdisk, mkfs.fat x2, dd x2)"
printf '%-6s | %9s %9s %9s %9s %11s | %9s %9s %11s\n' "" "wall s" "disk s" "sectors" "syscalls" "calls/sect" "wall s" "sectors" "calls/sect"
for card in 1GB:1000000000 4GB:4000000000 32GB:32000000000; do
  name=${card%%:*}; size=${card#*:}

  t0=$(now)
  line=$("$bench" "$size" "$work")
  ours_wall=$(calc "$(now) - $t0")
  [ "$(echo "$line" | field ok)" = 1 ] || { echo "installation failed on $name: $line" >&2; exit 1; }
  ours_disk=$(echo "$line" | field disk_seconds)
  ours_sectors=$(echo "$line" | field sectors_written)
  strace -f -c -o "$work/ours.sum" "$bench" "$size" "$work" >/dev/null
  ours_calls=$(calls "$work/ours.sum")

  # The same partition table for the tools.
  sfdisk --dump "$work/card.img" | grep -v '^device:' >"$work/table"
  sfdisk --dump "$work/card.img" | sed -n 's/.*start= *\([0-9]*\), size= *\([0-9]*\), type=\([0-9a-f]*\).*/\1 \2 \3/p' >"$work/entries"

  t0=$(now)
  peer "$size"
  peer_wall=$(calc "$(now) - $t0")
  # Each step under strace with a summary of its own.
  peer_calls=0; n=0
  record() { n=$((n + 1)); strace -f -c -o "$work/peer.$n.sum" "$@"; }
  peer "$size" record
  for f in "$work"/peer.[0-9]*.sum; do peer_calls=$((peer_calls + $(calls "$f"))); done
  peer_bytes=0; n=0
  trace() { n=$((n + 1)); strace -f -e trace=write,pwrite64,writev,pwritev -o "$work/peer.$n.log" "$@"; }
  peer "$size" trace
  for f in "$work"/peer.[0-9]*.log; do peer_bytes=$((peer_bytes + $(written "$f"))); done
  peer_sectors=$((peer_bytes / 512))
  rm -f "$work"/peer.*

  printf '%-6s | %9.3f %9.3f %9d %9d %11.2f | %9.3f %9d %11.2f\n' "$name" "$ours_wall" "$ours_disk" \
    "$ours_sectors" "$ours_calls" "$(calc "$ours_calls / $ours_sectors")" \
    "$peer_wall" "$peer_sectors" "$(calc "$peer_calls / $peer_sectors")"
done
echo "sectors: 512-byte sectors written to the card; calls/sect: every system call of the run"
echo "(strace -f -c) per sector written. Wall times are single runs of the whole program."
