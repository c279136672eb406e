# Sourced by the scripts: installs the Debian packages named that are not
# installed yet, quietly, and touches no package list when all are there.
# Usage: install_missing LABEL PACKAGE...

install_missing() {
  local label=$1
  shift
  local sudo="" missing=() pkg
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$pkg")
  done
  [ "${#missing[@]}" -gt 0 ] || return 0
  echo "$label: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}
