#!/usr/bin/env bash
# Touches most of the machine's free memory once, then gives it back, so that
# no timed row is the first to touch a page.
#
# Why: in a virtual machine whose host hands it memory lazily (as on the
# development machines here), the first touch of each page of guest memory
# costs several times what later touches cost (4 GB: 8.3 s the first time,
# 1.9 s the next). A row that holds more memory than the rows before it (the
# journal keeps up to 1 GiB of old files alive on tmpfs) then pays for the
# host and not for its own work: the real tree's common-word replace took
# 0.60-0.74 s with the journal against 0.36-0.42 s without it while fresh pages
# were being touched, and 0.39-0.44 s against 0.37-0.39 s once they had been.
# On a machine with its memory already in use this only costs a few seconds.
# It holds only for a while where the guest hands freed pages back (a
# virtio balloon with free page reporting, as here: see
# /sys/module/page_reporting/parameters/reported_kib): a page freed and handed
# back is slow to touch again, so rows that run long after the warm-up, or
# that free and take much memory, still meet some of it. Run the rows soon
# after, and compare rows of one session only.
#
#   warm_memory.sh [PERCENT]    (default 80: that share of MemAvailable)
# Writes zeros to a file in /dev/shm (at most what it has free), 256 MiB at a
# time, and removes it; then the page cache is refilled by whoever reads next.
set -euo pipefail
percent=${1:-80}
avail_kb=$(awk '/^MemAvailable:/ {print $2}' /proc/meminfo)
shm_kb=$(df -k --output=avail /dev/shm 2>/dev/null | tail -1 | tr -d ' ')
[ -n "$avail_kb" ] && [ -n "$shm_kb" ] || { echo "warm_memory: no /proc/meminfo or /dev/shm; skipped" >&2; exit 0; }
want_mb=$((avail_kb * percent / 100 / 1024))
[ $((shm_kb / 1024 - 256)) -ge "$want_mb" ] || want_mb=$((shm_kb / 1024 - 256))
[ "$want_mb" -gt 0 ] || exit 0
file=$(mktemp /dev/shm/qbench-warm.XXXXXX)
trap 'rm -f "$file"' EXIT
start=$(date +%s)
dd if=/dev/zero of="$file" bs=1M count="$want_mb" status=none 2>/dev/null || true
echo "warm_memory: touched $((($(stat -c %s "$file") >> 20))) MiB in $(($(date +%s) - start)) s"
