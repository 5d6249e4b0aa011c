#!/usr/bin/env bash
# Builds the program for this machine (when anything changed) and runs it
# with the arguments given: ./zorov.sh [flags] sources... target
set -e
here=$(cd "$(dirname "$0")" && pwd)
. "$here/scripts/packages.sh"
ensure_packages cmake g++ make
(cd "$here" && cmake --preset native -DZOROV_TESTS=OFF >/dev/null &&
  cmake --build build -j2 --target zorov >/dev/null) >&2
exec "$here/build/zorov" "$@"
