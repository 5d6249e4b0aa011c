#!/usr/bin/env bash
# Builds every target (POSIX, Windows x86-64, Windows i686) and runs every
# test: the unit tests natively and under wine, the structure lint, the
# end-to-end tests against the POSIX build and against the Windows build
# under wine, both again on a build with the address and undefined-behaviour
# sanitizers, the fuzz targets for a bounded time each, the interruption
# tests of the POSIX build, and the release check. Every stage but the last
# is a CTest label of the build directories, run once here, and every unit
# and end-to-end case is a CTest test of its own: the counts are those of
# CTest's JUnit files. Ends with the line "N passed, N failed".
set -u
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
. scripts/packages.sh
ensure_packages cmake g++ make python3 unicode-data googletest g++-mingw-w64-x86-64-posix \
  g++-mingw-w64-i686-posix wine64 clang libclang-rt-dev || exit 1
# The file-system stage of the end-to-end tests mounts images of these; it
# runs only as root, and skips without them.
[ "$(id -u)" -ne 0 ] || ensure_packages xfsprogs btrfs-progs exfat-fuse exfatprogs ntfs-3g attr
# and serves shares over SFTP and SMB from servers of its own; the system's
# ssh and samba services are not started.
[ "$(id -u)" -ne 0 ] || ensure_packages_without_services openssh-server sshfs samba smbnetfs

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
# CTest writes the results to a JUnit file, from which they are counted;
# its console output is kept in a log beside it. Extra CTest arguments
# follow.
stage() { # build directory, label, name of the results, ctest arguments...
  local directory=$1 label=$2 name=$3
  shift 3
  (cd "$directory" && ctest -L "^$label\$" --output-junit "$logs/$name.xml" "$@") \
    >"$logs/$name.log" 2>&1
}

# Adds a stage's results to the totals: shows the output of each test that
# failed, the lines of the tests' output that hold TEXT, and the stage's
# "N passed, N failed, N skipped". A stage without results is a failure.
count() { # name of the results, title, text
  local counts=$logs/$1.counts summary good bad
  [ -f "$logs/$1.xml" ] || tail -n 60 "$logs/$1.log"
  python3 tests/ctest_results.py "$logs/$1.xml" "${3:-}" >"$counts"
  sed '$d' "$counts" | head -n 400
  summary=$(tail -n 1 "$counts")
  echo "$2: $summary"
  good=$(echo "$summary" | awk '$2 == "passed," {print $1+0}')
  bad=$(echo "$summary" | awk '$2 == "passed," {print $3+0}')
  [ -n "$good" ] || { good=0; bad=1; }
  summary_good=$good
  passed=$((passed + good))
  failed=$((failed + bad))
}

# The unit and platform tests of one build, each case a CTest test.
unit_tests() { # build directory
  echo "== unit tests in $1"
  local name=unit-${1//\//_}
  stage "$1" unit "$name"
  count "$name" "unit tests in $1" "fault sweep:"
  unit_count=$summary_good
}

# The structure lint reads the sources, not a build: it runs once.
lint() { # build directory
  echo "== lint"
  stage "$1" lint lint
  count lint lint
}

# A stage whose tests are shown as they run.
counted_stage() { # build directory, label, title
  echo "== $3"
  local name=$2-${1//\//_}
  stage "$1" "$2" "$name" &
  local runner=$!
  tail -n +1 -F --pid=$runner "$logs/$name.log" 2>/dev/null | grep --line-buffered -E 'Test +#'
  wait $runner
  count "$name" "$3"
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
  stage build-sanitize fuzz fuzz -j2
  count fuzz "fuzz targets" " executions"
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

# The release: the install trees, the packages (lintian's verdict, the same
# bytes from a second build), the manual page, the shell completion, the
# help through a pipe, and the Windows builds' resources and archives.
if [ -x build/zorov ]; then
  echo "== release check"
  if ensure_packages groff man-db dpkg-dev lintian zsh git; then
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
