#!/usr/bin/env bash
# Builds the program and its manual page for this machine (when anything
# changed) and runs it with the arguments given:
#   ./zorov.sh [flags] sources... target
set -e
here=$(cd "$(dirname "$0")" && pwd)
. "$here/scripts/packages.sh"
ensure_packages cmake g++ make gzip
first=
if [ ! -x "$here/build/zorov" ] || [ ! -f "$here/build/zorov.1" ]; then
  first=1
  echo "zorov.sh: building zorov and its manual page in build/ (the first time takes a" \
    "minute or two; later runs rebuild only what changed) ..." >&2
fi
(cd "$here" && cmake --preset native -DZOROV_TESTS=OFF >/dev/null &&
  cmake --build build -j2 --target zorov zorov_manual >/dev/null) >&2
if [ -n "$first" ]; then
  echo "zorov.sh: built build/zorov; its manual page: man -l build/zorov.1" >&2
fi
exec "$here/build/zorov" "$@"
