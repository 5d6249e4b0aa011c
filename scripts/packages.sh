# Makes sure the Debian packages named are installed: with apt-get when
# running as root, otherwise by saying what to install.
ensure_packages() {
  local missing=()
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Please install: ${missing[*]} (for example: sudo apt-get install ${missing[*]})" >&2
    return 1
  fi
  echo "Installing ${missing[*]} ..." >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >&2 || return 1
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

# The same for packages that bring a service (a server the tests start
# themselves, on a port of their own): their installation starts none. A
# policy that forbids starting services stands while they are installed,
# where the system has none of its own.
ensure_packages_without_services() {
  local policy=/usr/sbin/policy-rc.d placed=
  if [ "$(id -u)" -eq 0 ] && [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod 755 "$policy" && placed=1
  fi
  ensure_packages "$@"
  local result=$?
  [ -z "$placed" ] || rm -f "$policy"
  return $result
}
