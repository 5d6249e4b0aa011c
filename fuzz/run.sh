#!/usr/bin/env bash
# Runs one fuzz target of the sanitizer build for a bounded time, starting
# from its seed corpus in fuzz/corpus/NAME:
#
#   fuzz/run.sh NAME [SECONDS]        (default ZOROV_FUZZ_SECONDS, else 30 s)
#
# The target is build-sanitize/fuzz/fuzz_NAME, or ZOROV_FUZZ_PROGRAM.
#
# New inputs go to a scratch corpus that is removed afterwards; the seeds in
# the repository stay as they are. A crash, an input that takes more than
# 1 s, or a sanitizer report ends the run: the input is kept beside the
# scratch corpus and shown, and the script fails. The last line reads
# "fuzz NAME: N executions in S s".
set -u
here=$(cd "$(dirname "$0")" && pwd)
name=$1
seconds=${2:-${ZOROV_FUZZ_SECONDS:-30}}
program=${ZOROV_FUZZ_PROGRAM:-$here/../build-sanitize/fuzz/fuzz_$name}
[ -x "$program" ] || { echo "fuzz $name: $program is not built (cmake --preset sanitize)"; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/zorov-fuzz-$name-XXXXXX")
mkdir "$work/corpus"
log=$work/log
# The response-file target writes its list into the current directory.
(cd "$work" && ASAN_OPTIONS=halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  "$program" -max_total_time="$seconds" -timeout=1 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/" "$work/corpus" "$here/corpus/$name") >"$log" 2>&1
status=$?
executions=$(awk '/stat::number_of_executed_units:/ {print $2}' "$log")
if [ "$status" -ne 0 ]; then
  grep -E 'ERROR|SUMMARY|fuzz target|runtime error|^    #[0-9]+ .* in zorov' "$log" | head -n 40
  for input in "$work"/crash-* "$work"/timeout-* "$work"/leak-* "$work"/oom-*; do
    [ -e "$input" ] || continue
    echo "failing input $input:"
    od -c "$input" | head -n 20
  done
  echo "fuzz $name: failed after ${executions:-?} executions (log and input in $work)"
  exit 1
fi
rm -rf "$work"
echo "fuzz $name: ${executions:-0} executions in $seconds s"
