#!/bin/sh
# Prepares cross builds for the console's CPU (32-bit little-endian MIPS): installs Debian's
# cross compiler and qemu's user-mode emulator, unpacks the target's libraries into
# build-mipsel/root and registers qemu's binfmt handler so that mipsel programs start here.
# Run as root on Debian 12. Used by scripts/cross-test.sh and scripts/package.sh.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build-mipsel
root=$build/root

if [ "$(id -u)" -ne 0 ]; then
  echo "this script installs packages and registers an emulator: run it as root" >&2
  exit 1
fi

# The cross compiler and the emulator run on the host.
packages="g++-mipsel-linux-gnu qemu-user-static cmake make pkg-config fonts-vlgothic"
missing=""
for package in $packages; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
    missing="$missing $package"
done
# apt lists mipsel packages only once dpkg knows the architecture.
dpkg --print-foreign-architectures | grep -qx mipsel || dpkg --add-architecture mipsel
if [ -n "$missing" ] || ! ls /var/lib/apt/lists/*_binary-mipsel_Packages* >/dev/null 2>&1; then
  apt-get update -qq
fi
if [ -n "$missing" ]; then
  echo "installing:$missing"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

# The target's libraries are unpacked into $root instead of installed: libsdl1.2-dev cannot be
# installed for two architectures at once, and Debian's security updates for the host's
# libraries have no mipsel builds, so the two architectures' versions can differ. apt works here
# on a status file of its own, as if on an empty mipsel system, and only downloads.
runtime="libsdl1.2debian libsdl-ttf2.0-0 libsdl-image1.2 libpng16-16 libstdc++6 libgcc-s1 libc6"
headers="libsdl1.2-dev libsdl-ttf2.0-dev libsdl-image1.2-dev libpng-dev zlib1g-dev libgtest-dev"
target_apt() {
  apt-get -q -o APT::Architecture=mipsel -o APT::Architectures::=mipsel \
    -o Dir::State::status="$build/apt/status" -o Dir::State::extended_states="$build/apt/states" \
    -o Dir::State::Lists=/var/lib/apt/lists -o Dir::Cache="$build/apt/cache" \
    -o APT::Sandbox::User=root "$@"
}
# The stamp names what was unpacked, so that a changed list unpacks anew.
if [ "$(cat "$root/.unpacked" 2>/dev/null)" != "$runtime $headers" ]; then
  echo "unpacking the mipsel libraries into $root"
  rm -rf "$root" "$build/apt"
  mkdir -p "$root" "$build/apt/cache/archives/partial"
  : >"$build/apt/status"
  # The libraries with everything they load; the development files alone, without the tools and
  # static libraries of their dependencies that a dynamic link never reads.
  target_apt install -y --download-only --no-install-recommends $runtime >/dev/null
  (cd "$build/apt/cache/archives" && target_apt download $headers >/dev/null)
  for deb in "$build"/apt/cache/archives/*.deb; do
    dpkg-deb -x "$deb" "$root"
  done
  # Links that name an absolute path would point into the host: point them inside the root.
  find "$root" -type l -lname '/*' | while read -r link; do
    ln -sfnr "$root$(readlink "$link")" "$link"
  done
  echo "$runtime $headers" >"$root/.unpacked"
fi

# Tests start mipsel programs themselves: the kernel hands them to qemu through binfmt_misc.
# systemd registers qemu-user-static's handlers at boot; without systemd, do it here.
binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/qemu-mipsel" ]; then
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
  if [ -e "$binfmt/register" ]; then
    grep -v '^#' /usr/lib/binfmt.d/qemu-mipsel.conf >"$binfmt/register" 2>/dev/null || true
  fi
elif [ "$(head -n 1 "$binfmt/qemu-mipsel")" != enabled ]; then
  echo 1 >"$binfmt/qemu-mipsel" 2>/dev/null || true
fi
if [ "$(head -n 1 "$binfmt/qemu-mipsel" 2>/dev/null)" != enabled ]; then
  echo "warning: no binfmt_misc handler for mipsel: mipsel programs cannot start here" >&2
fi
