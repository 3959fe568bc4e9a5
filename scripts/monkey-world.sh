#!/bin/sh
# Builds the monkey's world (tests/system/monkey.cpp) at the folder $1, as root in the monkey's
# private mount namespace: a small memory file system with the shell, df and du and their
# libraries, the font $3, the keyboard's images from $2, a small /boot, a /proc that shows only
# the caller's processes, and a /tmp where nobody makes files but lists none. Only the owner of an
# entry of the world's root may remove it, so the trees of the user nobody live beside all this.
# A sanitizer report written in the world lands in the host's folder $ZORVEL_SANITIZER_LOGS, whose
# parents nobody cannot list.
set -eu
umask 022
mount -t tmpfs -o size=40m,mode=1777,nosuid,nodev tmpfs "$1"
cd "$1"
for f in /bin/sh /usr/bin/df /usr/bin/du $(ldd /bin/sh /usr/bin/df /usr/bin/du | grep -o '/[^ :]*') \
  "$3"; do
  cp -L --parents "$f" .
done
cp -R "$2" graphics
mkdir -p proc boot outside/dir
mkdir -m 1733 tmp
echo outside >outside/file
echo inner >outside/dir/inner
mount -t tmpfs -o size=1m,mode=0755,nosuid,nodev tmpfs boot
mount -t proc -o hidepid=2,nosuid,nodev,noexec proc proc
logs=${ZORVEL_SANITIZER_LOGS:-}
if [ -n "$logs" ]; then
  (umask 066 && mkdir -p ".$logs")
  chmod 1777 "$logs"
  mount --bind "$logs" ".$logs"
fi
