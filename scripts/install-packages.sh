#!/bin/sh
# Installs the named Debian packages that are not installed yet; installing needs root.
set -eu
missing=""
for package in "$@"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
    missing="$missing $package"
done
[ -n "$missing" ] || exit 0
echo "installing:$missing"
if [ "$(id -u)" -ne 0 ]; then
  echo "installing packages needs root: run this command as root (or with sudo)" >&2
  exit 1
fi
apt-get update -qq
# shellcheck disable=SC2086 # one word a package
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
