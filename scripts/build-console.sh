#!/bin/sh
# Builds the program for the console itself into build-console/: a statically linked 32-bit
# little-endian MIPS program compiled for release 1 (-march=mips32) with floating point in
# software (-msoft-float: the console's CPU has no floating-point unit) that needs nothing on the
# console but its kernel. Leaves build-console/zorvel.dge (with its link map zorvel.dge.map) and
# build-console/graphics/.
#
#   scripts/build-console.sh [--sources DIR]
#
# Everything comes from Debian: the cross compiler and binutils as packages, and the C library
# (musl), the floating-point routines (the soft-fp folder of glibc's source package), zlib,
# libpng, FreeType, SDL 1.2 (framebuffer and dummy video only, no audio, no X11), SDL_ttf and
# SDL_image (PNG only) built from Debian's source packages of the archive this machine
# already uses. Where the archive's mirror does not serve SDL_ttf's or SDL_image's sources, that
# library is built from its upstream release tarball, the one Debian packages, taken from DIR
# (--sources, or the environment's ZORVEL_CONSOLE_SOURCES) and checked against the sha256 sum
# pinned below. Only with neither is it Debian's prebuilt mipsel static library, which holds
# release 2 instructions: the build says so loudly (scripts/console-proof.sh names them). Which
# path each of the two took is recorded in build-console/stamps/sdl_ttf and sdl_image ("source
# package", "upstream tarball" or "prebuilt release 2"), which scripts/package.sh reads.
#
# Each library is built once and kept (rm -rf build-console to build all anew); a prebuilt one is
# built anew from sources as soon as they can be had. A second run only relinks the program.
# When the whole program holds no release 2 instruction, its ELF header is marked MIPS32
# release 1 (see mark_release1). Each step writes build-console/logs/<step>.log, and a failing
# step names itself and shows its log's end. Run as root on Debian 12: it installs what it needs.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out=$here/build-console
sysroot=$out/sysroot
src=$out/src
logs=$out/logs
stamps=$out/stamps
jobs=$(nproc)
[ "$jobs" -le 2 ] || jobs=2

usage() {
  echo "usage: scripts/build-console.sh [--sources DIR]" >&2
  exit 2
}
sources=${ZORVEL_CONSOLE_SOURCES:-}
while [ $# -gt 0 ]; do
  case $1 in
  --sources)
    [ $# -ge 2 ] || usage
    sources=$2
    shift 2
    ;;
  --sources=*)
    sources=${1#--sources=}
    shift
    ;;
  *) usage ;;
  esac
done
if [ -n "$sources" ]; then
  [ -d "$sources" ] || {
    echo "build-console: the sources folder $sources does not exist" >&2
    exit 1
  }
  sources=$(cd "$sources" && pwd)
fi
# The upstream releases that Debian 12 packages as sdl-ttf2.0 2.0.11 and sdl-image1.2 1.2.12, as
# the sources folder holds them, and the sha256 sum each must have.
sdl_ttf_tarball=SDL_ttf-2.0.11.tar.gz
sdl_ttf_sha256=16c177bd10a0ff166dee5668eb0c9f5800761427f3d27d317e5cd7bc247a2210
sdl_image_tarball=SDL_image-1.2.12.tar.gz
sdl_image_sha256=7b9f955bbb2c018afa1918c9010787fca395f319957ef1f07941d9cbb0872c30

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
# machines get "404 Not Found" for them): then those two are built from their upstream tarballs
# instead, or, without those, taken prebuilt (below).
for package in musl glibc zlib libpng1.6 freetype libsdl1.2 sdl-ttf2.0 sdl-image1.2; do
  ls -d "$src/$package"-*/ >/dev/null 2>&1 && continue
  [ -f "$stamps/no-source-$package" ] && continue
  [ -f "$stamps/apt-sources" ] || step apt-sources private_apt_ready
  case $package in
  sdl-*)
    echo "== fetch-$package"
    if ! (fetch "$package") >"$logs/fetch-$package.log" 2>&1; then
      echo "build-console: Debian's mirror serves no source of $package"
      touch "$stamps/no-source-$package"
    fi
    ;;
  *) step "fetch-$package" fetch "$package" ;;
  esac
done
source_dir() { ls -d "$src/$1"-*/ | head -n 1; }

# --- The toolchain: Debian's cross gcc with musl's headers and start files in place of glibc's.
cross=mipsel-linux-gnu
arch_flags="-march=mips32 -msoft-float -O2"
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
# C for the console: musl's headers and libraries, static, MIPS32 release 1, soft float.
for arg; do case \$arg in -c|-S|-E|-M|-MM) exec $cross-gcc -march=mips32 -msoft-float -nostdinc -isystem "$sysroot/include" -isystem "$gcc_include" "\$@";; esac; done
exec $cross-gcc -march=mips32 -msoft-float -nostdinc -isystem "$sysroot/include" -isystem "$gcc_include" \\
  -static -nostdlib -nostartfiles "$sysroot/lib/crt1.o" "$sysroot/lib/crti.o" "$gcc_libdir/crtbeginT.o" \\
  -L"$sysroot/lib" "\$@" -Wl,--start-group -lc -lsoftfp -lgcc -Wl,--end-group "$gcc_libdir/crtend.o" "$sysroot/lib/crtn.o"
EOF
cat >"$sysroot/bin/c++" <<EOF
#!/bin/sh
# C++ for the console: gcc's C++ headers over musl's, no exceptions, no RTTI, static, MIPS32
# release 1, soft float; operator new and delete come from the program. The headers ask for glibc's version,
# which musl does not give: they take the answer for an old glibc.
flags="-D__GLIBC_PREREQ(major,minor)=0 -march=mips32 -msoft-float -nostdinc -nostdinc++ -isystem $cxx_include -isystem $cxx_include/$cross -isystem $sysroot/include -isystem $gcc_include -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-asynchronous-unwind-tables"
for arg; do case \$arg in -c|-S|-E|-M|-MM) exec $cross-g++ \$flags "\$@";; esac; done
# A link writes a map beside its output: it names the object file that every function came from.
map="" previous=""
for arg; do [ "\$previous" != -o ] || map="-Wl,-Map=\$arg.map"; previous=\$arg; done
exec $cross-g++ \$flags \$map -static -nostdlib -nostartfiles "$sysroot/lib/crt1.o" "$sysroot/lib/crti.o" "$gcc_libdir/crtbeginT.o" \\
  -L"$sysroot/lib" "\$@" -Wl,--start-group -lc -lsoftfp -lgcc -Wl,--end-group "$gcc_libdir/crtend.o" "$sysroot/lib/crtn.o"
EOF
chmod +x "$sysroot/bin/cc" "$sysroot/bin/c++"

# Floating point in software: the console's CPU has no floating-point unit, and its kernel would
# emulate every instruction of one at the cost of a trap. Debian's libgcc is built for hard float,
# so the software routines (__adddf3 and the like, for float and double) are compiled from the
# soft-fp folder of Debian's glibc source package, with its MIPS32 sfp-machine.h; the compiler
# wrappers link them ahead of libgcc.
softfp_routines="adddf3 addsf3 subdf3 subsf3 muldf3 mulsf3 divdf3 divsf3 negdf2 negsf2 eqdf2 eqsf2
  gedf2 gesf2 ledf2 lesf2 unorddf2 unordsf2 fixdfsi fixsfsi fixunsdfsi fixunssfsi fixdfdi fixsfdi
  fixunsdfdi fixunssfdi floatsidf floatsisf floatunsidf floatunsisf floatdidf floatdisf
  floatundidf floatundisf extendsfdf2 truncdfsf2"
build_softfp() {
  glibc=$(source_dir glibc)
  rm -rf "$out/softfp"
  mkdir -p "$out/softfp"
  cd "$out/softfp"
  # What glibc's own build gives these files: the byte order, and its alias and visibility macros.
  cat >softfp-config.h <<'CONFIG'
#include <endian.h>
#define attribute_hidden
#define strong_alias(name, aliasname) extern __typeof(name) aliasname __attribute__((alias(#name)));
CONFIG
  for routine in $softfp_routines; do
    "$sysroot/bin/cc" $arch_flags -I"$glibc/soft-fp" -I"$glibc/sysdeps/mips/mips32" \
      -I"$glibc/stdlib" -include softfp-config.h -c "$glibc/soft-fp/$routine.c" -o "$routine.o"
  done
  rm -f "$sysroot/lib/libsoftfp.a"
  $cross-ar rcs "$sysroot/lib/libsoftfp.a" ./*.o
}
built softfp || { step softfp build_softfp && touch "$stamps/softfp"; }

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

# SDL_ttf and SDL_image are built with CMake from their source folder (tools/console/sdl-ttf-image
# says why), whichever of the two sources it came from.
build_sdl_library() {
  module=$1 dir=$2
  rm -rf "$out/$module"
  cmake -S "$here/tools/console/sdl-ttf-image" -B "$out/$module" \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mipsel-console.cmake" -DZORVEL_CONSOLE_SYSROOT="$sysroot" \
    -DCMAKE_INSTALL_PREFIX="$sysroot" -DCMAKE_C_FLAGS="$arch_flags" -DSDL_LIBRARY="$module" \
    -DSDL_LIBRARY_SOURCE_DIR="$dir"
  cmake --build "$out/$module" -j"$jobs"
  cmake --install "$out/$module"
}
# The upstream tarball, checked against its pinned sum before it is unpacked: a tarball that is
# not the release stops the build.
check_tarball() {
  file=$1 expected=$2
  found=$(sha256sum "$file" | cut -d' ' -f1)
  [ "$found" = "$expected" ] && return 0
  echo "build-console: $file is not the release this build pins:" >&2
  echo "  expected sha256 $expected" >&2
  echo "  found    sha256 $found" >&2
  exit 1
}
unpack_tarball() {
  cd "$src"
  rm -rf "${1%.tar.gz}"
  tar -xzf "$sources/$1"
  [ -d "${1%.tar.gz}" ]
}
# Last resort, without any source: Debian's mipsel static libraries of the same version, built for
# release 2 and for hard float against glibc, linked as they are into the soft-float program. The
# few glibc entry points they call that musl lacks are forwarded by tools/console/prebuilt-shims.c;
# SDL_image's JPEG, TIFF and WebP decoders find stand-ins that refuse (the program reads PNG
# only).
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
# Builds SDL_ttf or SDL_image from the first source there is, and records which in its stamp.
sdl_library() {
  module=$1 package=$2 dev_package=$3 tarball=$4 sha256=$5
  stamp=$stamps/$(echo "$module" | tr '[:upper:]' '[:lower:]')
  origin=$(cat "$stamp" 2>/dev/null || true)
  case $origin in
  "source package" | "upstream tarball") return 0 ;;
  esac
  if [ ! -f "$stamps/no-source-$package" ]; then
    step "$module" build_sdl_library "$module" "$(source_dir "$package")"
    echo "source package" >"$stamp"
  elif [ -n "$sources" ] && [ -f "$sources/$tarball" ]; then
    check_tarball "$sources/$tarball" "$sha256"
    step "unpack-$module" unpack_tarball "$tarball"
    step "$module" build_sdl_library "$module" "$src/${tarball%.tar.gz}"
    echo "upstream tarball" >"$stamp"
  else
    if [ -n "$sources" ]; then missing="no $sources/$tarball"; else missing="no --sources DIR"; fi
    echo "build-console: WARNING: $module is Debian's PREBUILT mipsel library, with MIPS32" \
      "release 2 instructions: the program stops with \"Illegal instruction\" on a release 1 CPU" \
      "(no source package $package, $missing)" >&2
    [ "$origin" = "prebuilt release 2" ] && return 0
    [ -f "$stamps/apt-sources" ] || step apt-sources private_apt_ready
    step "$module-prebuilt" prebuilt_library "$dev_package" "$module"
    echo "prebuilt release 2" >"$stamp"
  fi
}
sdl_library SDL_ttf sdl-ttf2.0 libsdl-ttf2.0-dev "$sdl_ttf_tarball" "$sdl_ttf_sha256"
sdl_library SDL_image sdl-image1.2 libsdl-image1.2-dev "$sdl_image_tarball" "$sdl_image_sha256"
# The shims only go into a program that holds a prebuilt library (cmake/mipsel-console.cmake links
# them when they are there).
if cat "$stamps/sdl_ttf" "$stamps/sdl_image" | grep -qx "prebuilt release 2"; then
  step prebuilt-shims prebuilt_shims
else
  rm -f "$sysroot/lib/libprebuiltshims.a"
fi

# --- The program, every time.
build_program() {
  cd "$here"
  cmake --preset console
  # Relinked every time: the static libraries it takes with -l are no dependency of its link, and
  # one of them may have been built anew.
  rm -f "$out/program/zorvel.dge"
  cmake --build --preset console -j"$jobs"
  cp "$out/program/zorvel.dge" "$out/program/zorvel.dge.map" "$out/"
}
# The linker marks the program with the highest ISA of its inputs, and Debian's crtbeginT.o,
# crtend.o and libgcc.a are compiled for, and so marked, release 2 (Debian's default for mipsel),
# even where the code the program takes from them is release 1; building them for release 1 would
# mean building gcc. So once the scan finds no release 2 instruction in the whole program, the
# header is made to say what the code is: the ISA nibble of e_flags becomes EF_MIPS_ARCH_32 and
# the .MIPS.abiflags section's isa_rev 1 (its isa_level is 32 already).
byte_at() { od -An -tu1 -j"$2" -N1 "$1" | tr -d ' '; }
set_byte() {
  printf "\\$(printf %03o "$3")" | dd of="$1" bs=1 seek="$2" count=1 conv=notrunc 2>/dev/null
}
mark_release1() {
  program=$1
  "$here/scripts/console-release2-scan.sh" "$program" >"$out/release2-instructions.txt"
  count=$(wc -l <"$out/release2-instructions.txt")
  if [ "$count" -ne 0 ]; then
    echo "build-console: WARNING: $count release 2 instructions in the program" \
      "($out/release2-instructions.txt): its header stays release 2" >&2
    return 0
  fi
  # e_flags is the little-endian word at offset 36 of an ELF32 header: its top nibble is byte 39's.
  set_byte "$program" 39 $(($(byte_at "$program" 39) % 16 + 0x50))
  abiflags=$(mipsel-linux-gnu-readelf -S -W "$program" |
    sed -n 's/.* \.MIPS\.abiflags  *MIPS_ABIFLAGS  *[0-9a-f]*  *\([0-9a-f]*\) .*/\1/p')
  if [ -n "$abiflags" ]; then
    [ "$(byte_at "$program" $((0x$abiflags + 2)))" -eq 32 ] || {
      echo "build-console: the program's .MIPS.abiflags does not name a 32-bit ISA" >&2
      exit 1
    }
    set_byte "$program" $((0x$abiflags + 3)) 1
  fi
  mipsel-linux-gnu-readelf -h "$program" | grep -q 'Flags:.*, mips32$' &&
    ! mipsel-linux-gnu-readelf -A "$program" | grep -q '^ISA: MIPS32r' || {
    echo "build-console: the program's header does not read MIPS32 after marking it" >&2
    exit 1
  }
  echo "build-console: no release 2 instruction in the program: its header says MIPS32 (release 1)"
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
mark_release1 "$out/zorvel.dge"
step images build_images
echo "build-console: $out/zorvel.dge ($(stat -c %s "$out/zorvel.dge") bytes) and $out/graphics/"
