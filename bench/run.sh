#!/usr/bin/env bash
# Measures zorov against the usual copy tools, side by side:
#   1. one 1 GiB file: zorov -b, cp, rsync --whole-file, dd bs=2M;
#   2. a tree of 20,000 files of 1-8 KiB in 200 directories: zorov, cp -r,
#      rsync -a.
# Prints the medians, the ratio of zorov to each peer and zorov's peak RSS.
#
# Needs hyperfine, /usr/bin/time, rsync and python3 (installed with apt-get
# when missing and run as root). Everything is written under bench/scratch/.
#
# Environment:
#   ZOROV       the program to measure (default: build/zorov, built with the
#               native preset when missing)
#   BENCH_RUNS  runs per command on the big file (default 5)
#   TREE_RUNS   runs per command on the tree (default 3)
#   BIG_MIB     size of the big file in MiB (default 1024)
#   TREE_DIRS, TREE_FILES_PER_DIR  shape of the tree (default 200 x 100)
#   BENCH_PARTS "big tree" (default), or one of them
#   BENCH_PEERS_ONLY=1  measure only the peers (zorov not needed)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
scratch="$here/scratch"
runs=${BENCH_RUNS:-5}
tree_runs=${TREE_RUNS:-3}
big_mib=${BIG_MIB:-1024}
tree_dirs=${TREE_DIRS:-200}
tree_files=${TREE_FILES_PER_DIR:-100}
peers_only=${BENCH_PEERS_ONLY:-0}
parts=${BENCH_PARTS:-big tree}

need_tools() {
  local missing=()
  command -v hyperfine >/dev/null || missing+=(hyperfine)
  [ -x /usr/bin/time ] || missing+=(time)
  command -v rsync >/dev/null || missing+=(rsync)
  command -v python3 >/dev/null || missing+=(python3)
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
  if [ "$peers_only" = 1 ]; then
    zorov=""
    return
  fi
  zorov=${ZOROV:-$root/build/zorov}
  if [ ! -x "$zorov" ] && [ -z "${ZOROV:-}" ]; then
    echo "building $zorov"
    (cd "$root" && cmake --preset native -DZOROV_TESTS=OFF >/dev/null && cmake --build build -j2 --target zorov >/dev/null)
  fi
  [ -x "$zorov" ] || { echo "no program at $zorov" >&2; exit 1; }
  zorov=$(cd "$(dirname "$zorov")" && pwd)/$(basename "$zorov")
}

make_big_file() {
  local want=$((big_mib * 1024 * 1024))
  if [ ! -f big.src ] || [ "$(stat -c %s big.src)" != "$want" ]; then
    echo "writing big.src ($big_mib MiB of random data)"
    head -c "$want" /dev/urandom >big.src
  fi
}

make_tree() {
  local stamp="tree.shape-$tree_dirs-$tree_files"
  [ -f "$stamp" ] && return
  echo "writing tree.src ($tree_dirs directories x $tree_files files of 1-8 KiB)"
  rm -rf tree.src tree.shape-*
  python3 - "$tree_dirs" "$tree_files" <<'EOF'
import os, random, sys
dirs, files = int(sys.argv[1]), int(sys.argv[2])
rng = random.Random(20000)
pool = os.urandom(8192 * 4)
for d in range(dirs):
    path = os.path.join("tree.src", "d%03d" % d)
    os.makedirs(path)
    for f in range(files):
        size = rng.randint(1024, 8192)
        start = rng.randint(0, len(pool) - size)
        with open(os.path.join(path, "f%03d.dat" % f), "wb") as out:
            out.write(pool[start:start + size])
EOF
  touch "$stamp"
}

# How zorov copies the tree: as a tree when it can, else per directory with
# a wildcard or a response file, else one invocation per file. Each way is
# tried on a small probe and must reproduce it exactly.
choose_tree_mode() {
  tree_mode=files
  [ -n "$zorov" ] || return 0
  rm -rf probe.src probe.dst
  mkdir -p probe.src/a probe.src/b
  echo one >probe.src/a/x.dat
  echo two >probe.src/b/y.dat
  if "$zorov" -b -s probe.src probe.dst/ >/dev/null 2>&1 && diff -r probe.src probe.dst >/dev/null 2>&1; then
    tree_mode=tree
  else
    rm -rf probe.dst && mkdir -p probe.dst/a
    if "$zorov" -b 'probe.src/a/*' probe.dst/a/ >/dev/null 2>&1 && diff -r probe.src/a probe.dst/a >/dev/null 2>&1; then
      tree_mode=wildcard
    else
      rm -rf probe.dst && mkdir -p probe.dst/a
      printf '%s\n' probe.src/a/x.dat >probe.list
      if "$zorov" -b @probe.list probe.dst/a/ >/dev/null 2>&1 && diff -r probe.src/a probe.dst/a >/dev/null 2>&1; then
        tree_mode=response
      fi
    fi
  fi
  rm -rf probe.src probe.dst probe.list
}

# The command that copies tree.src to tree.dst with zorov in `tree_mode`.
zorov_tree_command() {
  case "$tree_mode" in
  tree) echo "'$zorov' -b -s tree.src tree.dst/ >/dev/null" ;;
  wildcard) echo "for d in tree.src/*/; do n=\$(basename \$d); mkdir -p tree.dst/\$n && '$zorov' -b \"\$d*\" tree.dst/\$n/ >/dev/null || exit 1; done" ;;
  response) echo "for d in tree.src/*/; do n=\$(basename \$d); mkdir -p tree.dst/\$n && ls -d \$d* >lists/\$n && '$zorov' -b @lists/\$n tree.dst/\$n/ >/dev/null || exit 1; done" ;;
  files) echo "for d in tree.src/*/; do n=\$(basename \$d); mkdir -p tree.dst/\$n; for f in \$d*; do '$zorov' -b \$f tree.dst/\$n/\${f##*/} >/dev/null || exit 1; done; done" ;;
  esac
}

# Peak resident set of the largest single zorov process that `command`
# starts, in KiB: every invocation runs under /usr/bin/time on its own.
peak_rss_each() {
  local prepare=$1 command=$2 wrapper
  bash -c "$prepare"
  wrapper="$scratch/zorov-rss"
  cat >"$wrapper" <<EOF
#!/bin/sh
exec /usr/bin/time -a -f '%M' -o '$scratch/rss-each.txt' '$zorov' "\$@"
EOF
  chmod +x "$wrapper"
  rm -f rss-each.txt
  bash -c "${command//$zorov/$wrapper}" >/dev/null 2>&1 || true
  sort -n rss-each.txt | tail -n 1
}

# Times every command `rounds` times with hyperfine, one run per call, the
# commands taking turns, so that the state one tool leaves behind (dirty
# pages, freshly freed inodes) falls on every tool alike.
measure() { # part, rounds, prepare, then name and command pairs
  local part=$1 rounds=$2 prepare=$3
  shift 3
  rm -f "$part".*.json "$part.log"
  local round i
  for ((round = 1; round <= rounds; round++)); do
    local pairs=("$@")
    for ((i = 0; i < ${#pairs[@]}; i += 2)); do
      hyperfine --runs 1 --shell bash --style basic --prepare "$prepare" \
        --export-json "$part.$round.$i.json" -n "${pairs[i]}" "${pairs[i + 1]}" >>"$part.log" 2>&1
    done
  done
}

# Medians and minima of the wall time, the median CPU time (user + system,
# which a busy machine disturbs less), and zorov's ratio to each peer.
summarize() { # part, label of zorov's command
  python3 - "$1" "$2" <<'EOF'
import glob, json, statistics, sys
part, ours = sys.argv[1], sys.argv[2]
walls, cpus, order = {}, {}, []
for name in sorted(glob.glob(part + ".*.json")):
    for r in json.load(open(name))["results"]:
        if r["command"] not in walls:
            walls[r["command"]], cpus[r["command"]] = [], []
        walls[r["command"]] += r["times"]
        cpus[r["command"]].append(r["user"] + r["system"])
for name in sorted(glob.glob(part + ".1.*.json"), key=lambda n: int(n.split(".")[-2])):
    order += [r["command"] for r in json.load(open(name))["results"]]
median = {c: statistics.median(walls[c]) for c in order}
cpu = {c: statistics.median(cpus[c]) for c in order}
print("  %-24s %9s %9s %9s %9s %9s" % ("command", "median s", "min s", "cpu s",
                                      "zorov/x", "cpu z/x"))
for c in order:
    ratio = cpu_ratio = ""
    if ours in median and c != ours:
        ratio = "%.2fx" % (median[ours] / median[c])
        cpu_ratio = "%.2fx" % (cpu[ours] / cpu[c])
    print("  %-24s %9.3f %9.3f %9.3f %9s %9s" % (c, median[c], min(walls[c]), cpu[c],
                                                ratio, cpu_ratio))
EOF
}

main() {
  need_tools
  find_zorov
  mkdir -p "$scratch"
  cd "$scratch"
  echo "scratch: $scratch; runs per command: $runs (tree: $tree_runs)"
  echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
  [ -n "$zorov" ] && echo "zorov: $zorov"

  case " $parts " in *" big "*) bench_big ;; esac
  case " $parts " in *" tree "*) bench_tree ;; esac
}

bench_big() {
  echo
  echo "== 1. one file of $big_mib MiB"
  make_big_file
  local prepare="rm -f big.dst; sync"
  local big=()
  [ -n "$zorov" ] && big+=("zorov -b" "'$zorov' -b big.src big.dst >/dev/null")
  big+=("cp" "cp big.src big.dst")
  big+=("rsync --whole-file" "rsync --whole-file big.src big.dst")
  big+=("dd bs=2M" "dd if=big.src of=big.dst bs=2M status=none")
  measure big "$runs" "$prepare" "${big[@]}"
  summarize big "zorov -b"
  if [ -n "$zorov" ]; then
    cmp big.src big.dst >/dev/null 2>&1 || bash -c "'$zorov' -b big.src big.dst >/dev/null"
    echo "  zorov peak RSS: $(peak_rss_each "$prepare" "'$zorov' -b big.src big.dst") KiB"
    cmp big.src big.dst && echo "  zorov's copy is identical"
  fi
  rm -f big.dst
}

bench_tree() {
  echo
  echo "== 2. a tree of $((tree_dirs * tree_files)) files in $tree_dirs directories"
  make_tree
  choose_tree_mode
  # Copies are moved aside, not deleted, between runs: a file system that
  # avoids reusing the inodes of files deleted moments ago (ext4 does, for
  # minutes) would otherwise make the next run pay for 20,000 deletions.
  rm -rf tree.old && mkdir -p tree.old && sync
  local tree_prepare="[ -e tree.dst ] && mv tree.dst tree.old/\$(date +%s%N); rm -rf lists; mkdir -p lists; sync"
  local tree=()
  if [ -n "$zorov" ]; then
    echo "  zorov copies the tree as: $tree_mode"
    tree+=("zorov ($tree_mode)" "$(zorov_tree_command)")
  fi
  tree+=("cp -r" "cp -r tree.src tree.dst")
  tree+=("rsync -a" "rsync -a tree.src/ tree.dst/")
  measure tree "$tree_runs" "$tree_prepare" "${tree[@]}"
  summarize tree "zorov ($tree_mode)"
  if [ -n "$zorov" ]; then
    echo "  zorov peak RSS: $(peak_rss_each "$tree_prepare" "$(zorov_tree_command)") KiB"
    diff -r tree.src tree.dst >/dev/null && echo "  zorov's tree is identical"
  fi
  rm -rf tree.dst tree.old lists
}

main "$@"
