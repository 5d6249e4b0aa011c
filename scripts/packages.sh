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
