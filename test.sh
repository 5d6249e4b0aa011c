#!/usr/bin/env bash
# Builds every target (POSIX, Windows x86-64, Windows i686) and runs every
# test: the unit tests natively and under wine, the structure lint, the
# end-to-end tests against the POSIX build and against the Windows build
# under wine, both again on a build with the address and undefined-behaviour
# sanitizers, the fuzz targets for a bounded time each, the interruption
# tests of the POSIX build, and the release check. Every stage but the last
# is a CTest label of the build directories, run once here. Ends with the
# line "N passed, N failed".
set -u
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
. scripts/packages.sh
ensure_packages cmake g++ make python3 googletest g++-mingw-w64-x86-64-posix \
  g++-mingw-w64-i686-posix wine64 clang libclang-rt-dev || exit 1
# The file-system stage of the end-to-end tests mounts images of these; it
# runs only as root, and skips without them.
[ "$(id -u)" -ne 0 ] || ensure_packages xfsprogs btrfs-progs exfat-fuse exfatprogs ntfs-3g attr

export WINEDEBUG=-all

passed=0
failed=0
logs=$(mktemp -d /tmp/zorov-test-XXXXXX)
trap 'rm -rf "$logs"' EXIT

build() { # preset
  echo "== build $1"
  local log=$logs/build-$1.log
  if cmake --preset "$1" -DZOROV_TESTS=ON >"$log" 2>&1 &&
    cmake --build --preset "$1" -j2 >>"$log" 2>&1; then
    return 0
  fi
  tail -n 60 "$log"
  echo "build $1 failed"
  failed=$((failed + 1))
  return 1
}

# Every stage is a CTest label of the build directories; each runs once here.
# The log of a stage keeps CTest's verbose output, each line of a test's own
# output behind its test number ("3: ..."). Extra CTest arguments follow.
stage() { # build directory, label, log, ctest arguments...
  local directory=$1 label=$2 log=$3
  shift 3
  (cd "$directory" && ctest -L "^$label\$" -V "$@") >"$log" 2>&1
}

# The lines a test printed itself, from CTest's verbose output: its own,
# without the test number, and none of CTest's notes about the test.
CTEST_NOTES='(Test command|Working Directory|Test timeout computed to be|Environment variables):'
own_lines() { # test number pattern
  sed -unE "/^$1: $CTEST_NOTES/d; s/^$1: //p"
}

# The output of one test in a stage's log.
test_output() { # log, test name
  local number
  number=$(sed -nE "s/^ *Start +([0-9]+): $2\$/\1/p" "$1" | head -n 1)
  [ -n "$number" ] && own_lines "$number" <"$1"
}

# Counts the "N passed, N failed" that ends a test's output (the end-to-end
# and interruption runs); a missing line is a failure.
count_summary() { # log, test name
  local line good bad
  line=$(test_output "$1" "$2" | grep -E '^[0-9]+ passed, [0-9]+ failed' | tail -n 1)
  good=$(echo "$line" | awk '$2 == "passed," {print $1+0}')
  bad=$(echo "$line" | awk '$2 == "passed," {print $3+0}')
  [ -n "$good" ] || { good=0; bad=1; }
  summary_good=$good
  passed=$((passed + good))
  failed=$((failed + bad))
}

# Runs the unit tests of one build and counts their cases.
unit_tests() { # build directory
  echo "== unit tests in $1"
  local log=$logs/unit-${1//\//_}.log
  stage "$1" unit "$log" --output-on-failure
  local status=$?
  grep -E '^[0-9]+: \[  FAILED  \] [A-Za-z]|tests passed|tests failed out of' "$log"
  grep -E '^[0-9]+: fault sweep:' "$log" | sed -E 's/^[0-9]+: //'
  local good bad
  good=$(grep -oE '^[0-9]+: \[  PASSED  \] [0-9]+' "$log" | awk '{s+=$NF} END {print s+0}')
  bad=$(grep -oE '^[0-9]+: \[  FAILED  \] [0-9]+ tests?,' "$log" | awk '{s+=$(NF-1)} END {print s+0}')
  if [ "$status" -ne 0 ] && [ "$bad" -eq 0 ]; then
    tail -n 60 "$log"
    bad=1
  fi
  [ "$bad" -eq 0 ] || grep -B2 -A12 -E '^[0-9]+: .*Failure$' "$log" | head -n 120
  echo "unit tests in $1: $good passed, $bad failed"
  unit_count=$good
  passed=$((passed + good))
  failed=$((failed + bad))
}

# The structure lint reads the sources, not a build: it runs once.
lint() { # build directory
  echo "== lint"
  local log=$logs/lint.log
  if stage "$1" lint "$log"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
  test_output "$log" lint | tail -n 40
}

# A stage of one test that ends with "N passed, N failed": its cases are
# shown as they run.
counted_stage() { # build directory, label, title
  echo "== $3"
  local log=$logs/$2-${1//\//_}.log
  stage "$1" "$2" "$log" &
  local runner=$!
  tail -n +1 -F --pid=$runner "$log" 2>/dev/null | own_lines '[0-9]+'
  wait $runner
  count_summary "$log" "$2"
}

if build native; then
  unit_tests build
  lint build
  counted_stage build e2e "end-to-end tests, native"
fi
# Every unit test and end-to-end case again on the sanitizer build; the
# first report ends the process with 99 and is kept in a file.
sanitizers() {
  local reports=$logs/sanitizer-reports
  mkdir -p "$reports"
  export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:exitcode=99:log_path=$reports/asan"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=99:log_path=$reports/ubsan"
  unit_tests build-sanitize
  counted_stage build-sanitize e2e "end-to-end tests, sanitize"
  local end_to_end_count=$summary_good
  unset ASAN_OPTIONS UBSAN_OPTIONS
  if [ -n "$(ls -A "$reports")" ]; then
    head -n 80 "$reports"/*
    echo "sanitizers: reports found"
    failed=$((failed + 1))
    return
  fi
  echo "sanitizers: $unit_count unit tests and $end_to_end_count end-to-end cases without a report"
}

# Each fuzz target for a bounded time (ZOROV_FUZZ_SECONDS, 30 by default),
# two at a time, one on each core.
fuzzers() {
  echo "== fuzz targets, ${ZOROV_FUZZ_SECONDS:-30} s each"
  local log=$logs/fuzz.log name output
  stage build-sanitize fuzz "$log" -j2
  for name in arguments exclusions response_files pe_version; do
    output=$(test_output "$log" "fuzz_$name")
    if echo "$output" | tail -n 1 | grep -q ' executions in '; then
      passed=$((passed + 1))
    else
      echo "$output" | head -n 60
      failed=$((failed + 1))
    fi
    echo "$output" | tail -n 1
  done
}

# The real program stopped at random moments of its copies (about a minute).
[ -x build/zorov ] && counted_stage build interrupt "interruption tests"
if build sanitize; then
  sanitizers
  fuzzers
fi
if build win64; then
  unit_tests build-win64
  counted_stage build-win64 e2e "end-to-end tests, wine"
fi
build win32 && passed=$((passed + 1))

# The release: the install tree, the packages, the manual page, the help
# through a pipe, and the Windows builds' version resources and archives.
if [ -x build/zorov ]; then
  echo "== release check"
  if ensure_packages groff man-db dpkg-dev; then
    windows=()
    for directory in build-win64 build-win32; do
      [ -f "$directory/zorov.exe" ] && windows+=("$directory")
    done
    python3 tests/release_check.py build "${windows[@]}" | tee "$logs/release.log"
    line=$(tail -n 1 "$logs/release.log")
    good=$(echo "$line" | awk '$2 == "passed," {print $1+0}')
    bad=$(echo "$line" | awk '$2 == "passed," {print $3+0}')
    passed=$((passed + ${good:-0}))
    failed=$((failed + ${bad:-1}))
  else
    failed=$((failed + 1))
  fi
fi

echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
