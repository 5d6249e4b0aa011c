#!/bin/sh
# Runs the Windows programs of a cross build under wine.
#
#   wine-run.sh program.exe [arguments...]
#       Runs the program and passes its exit code on. The wine prefix is the
#       one named by ZOROV_WINEPREFIX when that is set; otherwise a fresh one
#       is made in a temporary directory for this run and removed after it.
#   wine-run.sh --create-prefix DIR
#       Makes a fresh prefix in DIR (an old one there is removed first), with
#       a server that stays until the prefix is removed.
#   wine-run.sh --remove-prefix DIR
#       Stops the wine processes of the prefix in DIR and removes it.
#
# Making a prefix takes several seconds, so a test run makes one and shares
# it among its tests (the two commands above, run as the setup and cleanup
# of the tests). No state of the user's own prefix leaks in.
#
# ZOROV_WINE names the loader; otherwise the one matching the program's
# machine type is looked for (wine64 for x86-64, wine for i686).
set -u

WINEDEBUG=-all
# No installers of the runtime's add-ons when a prefix is made.
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG WINEDLLOVERRIDES

# The machine type of a PE image: the 16-bit word after the "PE\0\0"
# signature, whose offset is the 32-bit word at 0x3c.
machine_of() {
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$offset" ] || return 0
  od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}

find_loader() {
  for candidate in "$@"; do
    if [ -x "$candidate" ]; then
      echo "$candidate"
      return 0
    fi
    if found=$(command -v "$candidate" 2>/dev/null); then
      echo "$found"
      return 0
    fi
  done
  return 1
}

# Sets `loader` and `server` for a program (or for none: the 64-bit loader).
choose_loader() {
  loader=${ZOROV_WINE:-}
  if [ -z "$loader" ]; then
    case $(machine_of "${1:-/dev/null}") in
    014c) loader=$(find_loader /usr/lib/wine/wine wine) ;;
    *) loader=$(find_loader /usr/lib/wine/wine64 wine64 wine) ;;
    esac
  fi
  if [ -z "$loader" ]; then
    echo "wine-run.sh: no wine loader for ${1:-a prefix} (set ZOROV_WINE)" >&2
    exit 1
  fi
  server=$(dirname "$loader")/wineserver
  [ -x "$server" ] || server=$(command -v wineserver 2>/dev/null || echo wineserver)
}

# Making a prefix prints its own notes; they stay out of the tests' output.
create_prefix() {
  WINEPREFIX=$1
  export WINEPREFIX
  "$loader" wineboot.exe --init >/dev/null 2>&1
}

# A prefix shared by many tests keeps its server until it is removed, so
# that no test waits for a new one to start.
keep_server() {
  WINEPREFIX=$1
  export WINEPREFIX
  "$server" -p >/dev/null 2>&1
}

remove_prefix() {
  WINEPREFIX=$1
  export WINEPREFIX
  [ -d "$1" ] && "$server" -k >/dev/null 2>&1
  rm -rf "$1"
}

case ${1:-} in
"")
  echo "usage: wine-run.sh program.exe [arguments...]" >&2
  exit 2
  ;;
--create-prefix)
  choose_loader
  remove_prefix "$2"
  mkdir -p "$2" || exit 1
  keep_server "$2"
  create_prefix "$2"
  exit $?
  ;;
--remove-prefix)
  choose_loader
  remove_prefix "$2"
  exit 0
  ;;
esac

choose_loader "$1"
# Helpers that wine starts for a program (the desktop process that the
# window library asks for) inherit its output and outlive it by many
# seconds: a caller reading the output through a pipe would wait for them
# after every test. The program writes to files, shown when it ends.
output=$(mktemp -d "${TMPDIR:-/tmp}/zorov-wine-output.XXXXXX") || exit 1
prefix=
cleanup() {
  rm -rf "$output"
  [ -z "$prefix" ] || remove_prefix "$prefix"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
if [ -n "${ZOROV_WINEPREFIX:-}" ]; then
  WINEPREFIX=$ZOROV_WINEPREFIX
  export WINEPREFIX
else
  prefix=$(mktemp -d "${TMPDIR:-/tmp}/zorov-wine.XXXXXX") || exit 1
  create_prefix "$prefix"
fi

"$loader" "$@" >"$output/out" 2>"$output/err"
status=$?
cat "$output/out"
cat "$output/err" >&2
exit $status
