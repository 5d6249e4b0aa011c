#!/usr/bin/env bash
# Measures zorov against the usual copy tools and prints one table of the
# ratios of medians, each from runs that take turns, with their spread:
#   - a file copied while busy loops keep every core full, against cp;
#   - a big file on an idle machine, against dd bs=65024 and cp;
#   - the same with -f, against cp; and on an XFS image with reflinks when
#     run as root;
#   - a tree of 20,000 files of 1-8 KiB in 200 directories, first copy,
#     against cp -r --preserve=timestamps and rsync -a;
#   - the same tree with nothing to do (-s -n), against cp -ru and rsync -a;
#   - a 1 GiB sparse file holding 10 MiB, both copy paths, against cp, with
#     the blocks the copy takes.
# Timings belong here, never in the tests.
#
# Needs python3 and rsync, and as root mkfs.xfs (installed with apt-get when
# missing and run as root). As root the files live on an ext4 image in
# memory, mounted for the run; otherwise, or with BENCH_FS=disk, under
# bench/scratch/. The settings are those of bench/measure.py (BENCH_ROUNDS,
# BENCH_CASES, BIG_MIB, BENCH_FS, ...), and:
#   ZOROV       the program to measure (default: build/zorov, built with the
#               native preset when missing)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
scratch="$here/scratch"

need_tools() {
  local missing=()
  command -v rsync >/dev/null || missing+=(rsync)
  command -v python3 >/dev/null || missing+=(python3)
  [ -x /usr/bin/time ] || missing+=(time)
  if [ "$(id -u)" = 0 ]; then
    command -v mkfs.xfs >/dev/null || missing+=(xfsprogs)
  fi
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    echo "installing: ${missing[*]}"
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "missing tools: ${missing[*]} (install them with apt-get)" >&2
    exit 1
  fi
}

find_zorov() {
  zorov=${ZOROV:-$root/build/zorov}
  if [ ! -x "$zorov" ] && [ -z "${ZOROV:-}" ]; then
    echo "building $zorov"
    (cd "$root" && cmake --preset native -DZOROV_TESTS=OFF >/dev/null && cmake --build build -j2 --target zorov >/dev/null)
  fi
  [ -x "$zorov" ] || { echo "no program at $zorov" >&2; exit 1; }
  zorov=$(cd "$(dirname "$zorov")" && pwd)/$(basename "$zorov")
}

need_tools
find_zorov
mkdir -p "$scratch"
echo "zorov: $zorov"
exec python3 "$here/measure.py" "$zorov" "$scratch"
