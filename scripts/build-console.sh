#!/bin/sh
# Builds the program for the console itself into build-console/: a statically linked 32-bit
# little-endian MIPS program compiled for release 1 (-march=mips32) that needs nothing on the
# console but its kernel. Leaves build-console/zorvel.dge (with its link map zorvel.dge.map) and
# build-console/graphics/.
#
# Everything comes from Debian: the cross compiler and binutils as packages, and the C library
# (musl), zlib, libpng, FreeType, SDL 1.2 (framebuffer and dummy video only, no audio, no X11),
# SDL_ttf and SDL_image (PNG only) built from Debian's source packages of the archive this machine
# already uses. Where the archive's mirror does not serve SDL_ttf's or SDL_image's sources, that
# library is Debian's prebuilt mipsel static one, which holds release 2 instructions
# (scripts/console-proof.sh names them). Each library is built once and kept (rm -rf
# build-console to build all anew); a second run only rebuilds the program. Each step writes
# build-console/logs/<step>.log, and a failing step names itself and shows its log's end.
# Run as root on Debian 12: it installs what it needs.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out=$here/build-console
sysroot=$out/sysroot
src=$out/src
logs=$out/logs
stamps=$out/stamps
jobs=$(nproc)
[ "$jobs" -le 2 ] || jobs=2

if [ "$(id -u)" -ne 0 ]; then
  echo "this script installs packages: run it as root" >&2
  exit 1
fi
"$here/scripts/install-packages.sh" g++-mipsel-linux-gnu dpkg-dev make cmake pkg-config \
  qemu-user-static fonts-vlgothic xz-utils bzip2 patch file
mkdir -p "$logs" "$stamps" "$src" "$sysroot"

# Runs one step with its output in its own log; a failure names the step and shows the log's end.
step() {
  name=$1
  shift
  echo "== $name"
  set +e
  (
    set -e
    "$@"
  ) >"$logs/$name.log" 2>&1
  status=$?
  set -e
  if [ "$status" -ne 0 ]; then
    echo "build-console: step '$name' failed; its log is $logs/$name.log:" >&2
    tail -n 30 "$logs/$name.log" >&2
    exit 1
  fi
}
# A library is built once: its stamp in build-console/stamps says so.
built() { [ -f "$stamps/$1" ]; }

# --- Sources: Debian's source packages through the private apt configuration.
. "$here/scripts/console-apt.sh"
# Unpacks a source package with Debian's patches applied (dpkg-source -x, through apt-get
# source) and records its folder.
fetch() {
  package=$1
  cd "$src"
  rm -rf "$package"-*/
  private_apt source "$package" && return 0
  # The newest version can be listed by an archive (a security suite) whose mirror here does not
  # serve its sources: then the newest version that can be fetched.
  for version in $(private_apt_tool apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -u -r -V); do
    rm -rf "$package"-*/
    private_apt source "$package=$version" && return 0
  done
  return 1
}
# SDL_ttf's and SDL_image's sources are not served by every mirror (this project's own build
# machines get "404 Not Found" for them): without them those two come from Debian's mipsel
# development packages' static libraries instead (below), and the program is not release 1.
for package in musl zlib libpng1.6 freetype libsdl1.2 sdl-ttf2.0 sdl-image1.2; do
  ls -d "$src/$package"-*/ >/dev/null 2>&1 && continue
  [ -f "$stamps/no-source-$package" ] && continue
  [ -f "$stamps/apt-sources" ] || step apt-sources private_apt_ready
  case $package in
  sdl-*)
    echo "== fetch-$package"
    if ! (fetch "$package") >"$logs/fetch-$package.log" 2>&1; then
      echo "build-console: no source of $package: its static library comes from Debian's mipsel package"
      touch "$stamps/no-source-$package"
    fi
    ;;
  *) step "fetch-$package" fetch "$package" ;;
  esac
done
source_dir() { ls -d "$src/$1"-*/ | head -n 1; }

# --- The toolchain: Debian's cross gcc with musl's headers and start files in place of glibc's.
cross=mipsel-linux-gnu
arch_flags="-march=mips32 -O2"
gcc_include=$($cross-gcc -print-file-name=include)
gcc_libdir=$(dirname "$($cross-gcc -print-libgcc-file-name)")
cxx_version=$($cross-g++ -dumpversion)
cxx_include=/usr/$cross/include/c++/$cxx_version

build_musl() {
  cd "$(source_dir musl)"
  ./configure --target=$cross --prefix="$sysroot" --syslibdir="$sysroot/lib" \
    --disable-shared CC="$cross-gcc" CFLAGS="$arch_flags" CROSS_COMPILE=$cross-
  make -j"$jobs"
  make install
  # The kernel's interface headers that SDL's framebuffer and keyboard code include; without
  # them configure quietly leaves the framebuffer driver out.
  for dir in linux asm asm-generic mtd; do
    [ -d "/usr/$cross/include/$dir" ] && cp -a "/usr/$cross/include/$dir" "$sysroot/include/"
  done
  make clean >/dev/null
}
built musl || { step musl build_musl && touch "$stamps/musl"; }

# Compiler wrappers: C and C++ against musl only, static, release 1. The C++ headers are gcc's
# own (templates only: the program links neither libstdc++ nor libsupc++).
mkdir -p "$sysroot/bin"
cat >"$sysroot/bin/cc" <<EOF
#!/bin/sh
# C for the console: musl's headers and libraries, static, MIPS32 release 1.
for arg; do case \$arg in -c|-S|-E|-M|-MM) exec $cross-gcc -march=mips32 -nostdinc -isystem "$sysroot/include" -isystem "$gcc_include" "\$@";; esac; done
exec $cross-gcc -march=mips32 -nostdinc -isystem "$sysroot/include" -isystem "$gcc_include" \\
  -static -nostdlib -nostartfiles "$sysroot/lib/crt1.o" "$sysroot/lib/crti.o" "$gcc_libdir/crtbeginT.o" \\
  -L"$sysroot/lib" "\$@" -Wl,--start-group -lc -lgcc -Wl,--end-group "$gcc_libdir/crtend.o" "$sysroot/lib/crtn.o"
EOF
cat >"$sysroot/bin/c++" <<EOF
#!/bin/sh
# C++ for the console: gcc's C++ headers over musl's, no exceptions, no RTTI, static, MIPS32
# release 1; operator new and delete come from the program. The headers ask for glibc's version,
# which musl does not give: they take the answer for an old glibc.
flags="-D__GLIBC_PREREQ(major,minor)=0 -march=mips32 -nostdinc -nostdinc++ -isystem $cxx_include -isystem $cxx_include/$cross -isystem $sysroot/include -isystem $gcc_include -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-asynchronous-unwind-tables"
for arg; do case \$arg in -c|-S|-E|-M|-MM) exec $cross-g++ \$flags "\$@";; esac; done
# A link writes a map beside its output: it names the object file that every function came from.
map="" previous=""
for arg; do [ "\$previous" != -o ] || map="-Wl,-Map=\$arg.map"; previous=\$arg; done
exec $cross-g++ \$flags \$map -static -nostdlib -nostartfiles "$sysroot/lib/crt1.o" "$sysroot/lib/crti.o" "$gcc_libdir/crtbeginT.o" \\
  -L"$sysroot/lib" "\$@" -Wl,--start-group -lc -lgcc -Wl,--end-group "$gcc_libdir/crtend.o" "$sysroot/lib/crtn.o"
EOF
chmod +x "$sysroot/bin/cc" "$sysroot/bin/c++"

# Autotools builds of the libraries: static only, installed into the sysroot.
export PKG_CONFIG_LIBDIR="$sysroot/lib/pkgconfig"
export PKG_CONFIG_SYSROOT_DIR=
unset PKG_CONFIG_PATH || true
autotools() {
  dir=$(source_dir "$1")
  shift
  cd "$dir"
  [ ! -f Makefile ] || make distclean >/dev/null 2>&1 || true
  CC="$sysroot/bin/cc" CFLAGS="$arch_flags" CPPFLAGS="-I$sysroot/include" LDFLAGS="-L$sysroot/lib" \
    ./configure --host=$cross --prefix="$sysroot" --disable-shared --enable-static "$@"
  make -j"$jobs"
  make install
}

build_zlib() {
  cd "$(source_dir zlib)"
  [ ! -f Makefile ] || make distclean >/dev/null 2>&1 || true
  CC="$sysroot/bin/cc" CFLAGS="$arch_flags" AR=$cross-ar RANLIB=$cross-ranlib \
    ./configure --static --prefix="$sysroot"
  make -j"$jobs" libz.a
  make install
}
built zlib || { step zlib build_zlib && touch "$stamps/zlib"; }

build_libpng() {
  autotools libpng1.6 --disable-hardware-optimizations --without-binconfigs
}
built libpng || { step libpng build_libpng && touch "$stamps/libpng"; }

build_freetype() {
  autotools freetype --with-zlib=yes --with-png=no --with-bzip2=no --with-harfbuzz=no \
    --with-brotli=no
}
built freetype || { step freetype build_freetype && touch "$stamps/freetype"; }

build_sdl() {
  autotools libsdl1.2 --enable-video-fbcon --enable-video-dummy --disable-audio --disable-video-x11 \
    --disable-video-directfb --disable-video-svga --disable-video-vgl --disable-video-wscons \
    --disable-video-ggi --disable-video-aalib --disable-video-caca --disable-video-opengl \
    --disable-video-ps2gs --disable-video-ps3 --disable-video-fbcon-sdl --disable-esd --disable-pulseaudio \
    --disable-arts --disable-nas --disable-alsa --disable-oss --disable-cdrom --disable-joystick \
    --disable-input-tslib --disable-rpath --without-x --disable-loadso --disable-pth
  grep -q '^#define SDL_VIDEO_DRIVER_FBCON 1' "$sysroot/include/SDL/SDL_config.h" || {
    echo "SDL was configured without its framebuffer driver"
    exit 1
  }
}
built sdl || { step sdl build_sdl && touch "$stamps/sdl"; }

build_sdl_ttf() {
  autotools sdl-ttf2.0 --with-sdl-prefix="$sysroot" --with-freetype-prefix="$sysroot" \
    --without-x --disable-sdltest
}
build_sdl_image() {
  autotools sdl-image1.2 --with-sdl-prefix="$sysroot" --disable-sdltest --enable-png \
    --disable-png-shared --disable-bmp --disable-gif --disable-jpg --disable-jpg-shared \
    --disable-lbm --disable-pcx --disable-pnm --disable-tga --disable-tif --disable-tif-shared \
    --disable-xcf --disable-xpm --disable-xv --disable-webp --disable-webp-shared
}
# Without their sources: Debian's mipsel static libraries of the same version, built for release 2
# against glibc. The few glibc entry points they call that musl lacks are forwarded by
# tools/console/prebuilt-shims.c; SDL_image's JPEG, TIFF and WebP decoders find stand-ins that refuse
# (the program reads PNG only).
prebuilt=$out/prebuilt
unpack_prebuilt() {
  package=$1
  mkdir -p "$prebuilt/debs"
  cd "$prebuilt/debs"
  rm -f "$package"_*.deb
  private_apt download "$package"
  dpkg-deb -x "$package"_*.deb "$prebuilt/root"
}
prebuilt_library() {
  package=$1 module=$2
  unpack_prebuilt "$package"
  cp "$prebuilt/root/usr/lib/$cross/lib$module.a" "$sysroot/lib/"
  cp "$prebuilt/root/usr/include/SDL/$module.h" "$sysroot/include/SDL/"
  sed -e "s|^prefix=.*|prefix=$sysroot|" -e "s|^libdir=.*|libdir=$sysroot/lib|" \
    "$prebuilt/root/usr/lib/$cross/pkgconfig/$module.pc" >"$sysroot/lib/pkgconfig/$module.pc"
}
prebuilt_shims() {
  "$sysroot/bin/cc" $arch_flags -Wall -Wextra -Werror -c "$here/tools/console/prebuilt-shims.c" \
    -o "$prebuilt/prebuilt-shims.o"
  $cross-ar rcs "$sysroot/lib/libprebuiltshims.a" "$prebuilt/prebuilt-shims.o"
}
if built sdl_ttf; then :
elif [ -f "$stamps/no-source-sdl-ttf2.0" ]; then
  [ -f "$stamps/apt-sources" ] || step apt-sources private_apt_ready
  step sdl_ttf-prebuilt prebuilt_library libsdl-ttf2.0-dev SDL_ttf
  echo prebuilt >"$stamps/sdl_ttf"
else
  step sdl_ttf build_sdl_ttf && echo source >"$stamps/sdl_ttf"
fi
if built sdl_image; then :
elif [ -f "$stamps/no-source-sdl-image1.2" ]; then
  [ -f "$stamps/apt-sources" ] || step apt-sources private_apt_ready
  step sdl_image-prebuilt prebuilt_library libsdl-image1.2-dev SDL_image
  echo prebuilt >"$stamps/sdl_image"
else
  step sdl_image build_sdl_image && echo source >"$stamps/sdl_image"
fi
# The shims are rebuilt with the program's own code; an empty library when nothing needs them.
if cat "$stamps/sdl_ttf" "$stamps/sdl_image" | grep -qx prebuilt; then
  step prebuilt-shims prebuilt_shims
else
  rm -f "$sysroot/lib/libprebuiltshims.a"
  $cross-ar rcs "$sysroot/lib/libprebuiltshims.a"
fi

# --- The program, every time.
build_program() {
  cd "$here"
  cmake --preset console
  cmake --build --preset console -j"$jobs"
  cp "$out/program/zorvel.dge" "$out/program/zorvel.dge.map" "$out/"
}
# The keyboard's images are drawn from the keyboard's own character table by a tool that runs at
# build time: the same images on every CPU, so the tool is built for this machine.
build_images() {
  env -u PKG_CONFIG_LIBDIR -u PKG_CONFIG_SYSROOT_DIR "$here/scripts/setup.sh" host-tools \
    keyboard_images
  rm -rf "$out/graphics"
  cp -r "$out/host/graphics" "$out/graphics"
}
step program build_program
step images build_images
echo "build-console: $out/zorvel.dge ($(stat -c %s "$out/zorvel.dge") bytes) and $out/graphics/"
