#!/usr/bin/env bash
# Installs what building and testing quenmar-grep need on Debian 12, and nothing
# else. Idempotent: when everything is already there it prints nothing and
# touches no package list.
#
# yyjson >= 0.12 is not packaged for Debian 12. It is taken from the unstable
# suite of the machine's own configured mirror, through a private, temporary
# apt configuration: the suite is never added to the system's sources, so no
# other package can ever be upgraded from it.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
. "$(dirname "$0")/lib/packages.sh"

install_missing setup cmake ninja-build make g++ pkg-config googletest libgtest-dev libgmock-dev \
  libcli11-dev python3 python3-venv python3-regex git ripgrep patch attr

# Node.js for the Node binding: Debian's node, npm and Node-API headers, each
# only where none is there (a Node.js from elsewhere brings its own).
node_packages=()
command -v node >/dev/null 2>&1 || node_packages+=(nodejs)
command -v npm >/dev/null 2>&1 || node_packages+=(npm)
[ -f /usr/include/node/node_api.h ] || node_packages+=(libnode-dev)
if [ "${#node_packages[@]}" -gt 0 ]; then install_missing setup "${node_packages[@]}"; fi

# The first Debian mirror named in the apt sources (one-line or deb822 form).
debian_mirror() {
  local files=()
  [ -f /etc/apt/sources.list ] && files+=(/etc/apt/sources.list)
  for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && files+=("$f")
  done
  [ "${#files[@]}" -gt 0 ] || return 1
  awk '
    /^[[:space:]]*deb[[:space:]]/ {
      for (i = 2; i <= NF; i++) if ($i ~ /^[a-z+]+:\/\//) { print $i; exit }
    }
    /^[[:space:]]*URIs:/ { print $2; exit }
  ' "${files[@]}" | grep -v -- '-security' | head -n 1
}

yyjson_ok() {
  pkg-config --atleast-version=0.12 yyjson 2>/dev/null
}

install_yyjson() {
  local mirror work
  mirror=$(debian_mirror) || true
  if [ -z "$mirror" ]; then
    echo "setup: no Debian mirror found in the apt sources; cannot fetch yyjson" >&2
    exit 1
  fi
  echo "setup: installing yyjson 0.12 from the unstable suite of $mirror"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' RETURN
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror sid main" \
    >"$work/sid.list"
  # A mirror may serve a dated snapshot of the suite, whose Release file has
  # passed its validity date; its signature is still checked.
  local apt_opts=(-q -o "Dir::Etc::SourceList=$work/sid.list" -o Dir::Etc::SourceParts=/nonexistent
                  -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache"
                  -o APT::Sandbox::User=root -o Acquire::Check-Valid-Until=false)
  $SUDO apt-get "${apt_opts[@]}" update >/dev/null
  (cd "$work" && $SUDO apt-get "${apt_opts[@]}" download libyyjson0 libyyjson-dev >/dev/null)
  $SUDO dpkg -i "$work"/libyyjson0_*.deb "$work"/libyyjson-dev_*.deb >/dev/null
}

if ! yyjson_ok; then
  install_yyjson
  yyjson_ok || { echo "setup: yyjson >= 0.12 still not found" >&2; exit 1; }
fi
