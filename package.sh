#!/usr/bin/env bash
# Makes the release packages in dist/: the .deb of the POSIX build and a .zip
# of each Windows build (x86-64 and i686), with their SHA-256 sums in
# dist/SHA256SUMS. Each is built without the tests in a directory of its own
# under build-release/, so the everyday builds are left alone. The times
# inside the packages are the last commit's (packaging/package_time.cmake),
# so every build of one commit gives the same bytes.
set -e
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
. scripts/packages.sh
ensure_packages cmake g++ make dpkg-dev gzip git python3 g++-mingw-w64-x86-64-posix \
  g++-mingw-w64-i686-posix
rm -rf dist
mkdir -p dist build-release
for preset in native win64 win32; do
  echo "== $preset" >&2
  log=build-release/$preset.log
  if ! { cmake --preset "$preset" -B "build-release/$preset" -DZOROV_TESTS=OFF \
    ${ZOROV_PACKAGE_CONTACT:+"-DZOROV_PACKAGE_CONTACT=$ZOROV_PACKAGE_CONTACT"} &&
    cmake --build "build-release/$preset" -j2 &&
    (cd "build-release/$preset" && cpack -B "$here/dist"); } >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "making the $preset package failed (the whole log: $log)" >&2
    exit 1
  fi
done
rm -rf dist/_CPack_Packages
(cd dist && sha256sum -- *.deb *.zip >SHA256SUMS)
ls -l dist
