#!/usr/bin/env bash
# Builds every target (POSIX, Windows x86-64, Windows i686) and runs every
# test: the unit tests natively and under wine, the end-to-end tests against
# the POSIX build and against the Windows build under wine, both again on a
# build with the address and undefined-behaviour sanitizers, the fuzz
# targets for a bounded time each, and the interruption tests of the POSIX
# build. Ends with the line "N passed, N failed".
set -u
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
. scripts/packages.sh
ensure_packages cmake g++ make python3 googletest g++-mingw-w64-x86-64-posix \
  g++-mingw-w64-i686-posix wine64 clang libclang-rt-dev || exit 1
# The file-system stage of the end-to-end tests mounts images of these; it
# runs only as root, and skips without them.
[ "$(id -u)" -ne 0 ] || ensure_packages xfsprogs btrfs-progs exfat-fuse exfatprogs ntfs-3g attr

WINE=/usr/lib/wine/wine64
command -v wine64 >/dev/null && WINE=$(command -v wine64)
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

# Runs the unit tests of one build through CTest and counts their cases.
unit_tests() { # build directory
  echo "== unit tests in $1"
  local log=$logs/unit-${1//\//_}.log
  (cd "$1" && ctest --output-on-failure -V) >"$log" 2>&1
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

end_to_end() { # label, run.py arguments...
  local label=$1
  shift
  echo "== end-to-end tests, $label"
  local log=$logs/e2e-$label.log
  python3 tests/e2e/run.py "$@" | tee "$log"
  local line
  line=$(tail -n 1 "$log")
  local good bad
  good=$(echo "$line" | awk '$2 == "passed," {print $1+0}')
  bad=$(echo "$line" | awk '$2 == "passed," {print $3+0}')
  [ -n "$good" ] || { good=0; bad=1; }
  end_to_end_count=$good
  passed=$((passed + good))
  failed=$((failed + bad))
}

if build native; then
  unit_tests build
  python3 tests/lint.py && passed=$((passed + 1)) || failed=$((failed + 1))
  end_to_end native build/zorov
fi
# Every unit test and end-to-end case again on the sanitizer build; the
# first report ends the process with 99 and is kept in a file.
sanitizers() {
  local reports=$logs/sanitizer-reports
  mkdir -p "$reports"
  export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:exitcode=99:log_path=$reports/asan"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=99:log_path=$reports/ubsan"
  unit_tests build-sanitize
  end_to_end sanitize build-sanitize/zorov
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
  local seconds=${ZOROV_FUZZ_SECONDS:-30}
  echo "== fuzz targets, $seconds s each"
  local pair name
  for pair in "arguments exclusions" "response_files pe_version"; do
    for name in $pair; do
      fuzz/run.sh "$name" "$seconds" >"$logs/fuzz-$name.log" 2>&1 &
    done
    wait
  done
  for name in arguments exclusions response_files pe_version; do
    if tail -n 1 "$logs/fuzz-$name.log" | grep -q ' executions in '; then
      passed=$((passed + 1))
    else
      head -n 60 "$logs/fuzz-$name.log"
      failed=$((failed + 1))
    fi
    tail -n 1 "$logs/fuzz-$name.log"
  done
}

# The real program stopped at random moments of its copies (about a minute).
interruptions() {
  echo "== interruption tests"
  local log=$logs/interrupt.log
  python3 tests/interrupt/run.py build/zorov 60 | tee "$log"
  local good bad
  good=$(tail -n 1 "$log" | awk '$2 == "passed," {print $1+0}')
  bad=$(tail -n 1 "$log" | awk '$2 == "passed," {print $3+0}')
  [ -n "$good" ] || { good=0; bad=1; }
  passed=$((passed + good))
  failed=$((failed + bad))
}

[ -x build/zorov ] && interruptions
if build sanitize; then
  sanitizers
  fuzzers
fi
if build win64; then
  unit_tests build-win64
  end_to_end wine build-win64/zorov.exe --wine "$WINE"
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
