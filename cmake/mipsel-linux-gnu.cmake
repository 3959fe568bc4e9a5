# Cross build for the console's 32-bit little-endian MIPS CPU with Debian's g++-mipsel-linux-gnu.
#
# The compiler brings its own C and C++ libraries (/usr/mipsel-linux-gnu). Everything else the
# target needs (SDL 1.2, SDL_ttf, SDL_image, libpng, GoogleTest and the libraries they load) is
# taken from Debian's mipsel packages unpacked into one folder, ZORVEL_MIPSEL_ROOT, laid out like
# a mipsel system (usr/include, usr/lib/mipsel-linux-gnu, lib/ld.so.1). They are unpacked rather
# than installed because libsdl1.2-dev cannot be installed for two architectures at once.
# scripts/cross-test.sh makes that folder and passes it:
#   cmake -S . -B build-mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-gnu.cmake \
#         -DZORVEL_MIPSEL_ROOT=$PWD/build-mipsel/root
# Programs built for the target (the keyboard image tool at build time, the tests) run through
# qemu-mipsel-static with that folder as its library root.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)
set(CMAKE_LIBRARY_ARCHITECTURE mipsel-linux-gnu)
set(CMAKE_C_COMPILER mipsel-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mipsel-linux-gnu-g++)

# The toolchain file is read again for every compiler check, where only the environment and the
# variables listed in CMAKE_TRY_COMPILE_PLATFORM_VARIABLES carry over.
if(NOT ZORVEL_MIPSEL_ROOT AND DEFINED ENV{ZORVEL_MIPSEL_ROOT})
  set(ZORVEL_MIPSEL_ROOT "$ENV{ZORVEL_MIPSEL_ROOT}")
endif()
if(NOT ZORVEL_MIPSEL_ROOT OR NOT EXISTS "${ZORVEL_MIPSEL_ROOT}/lib/ld.so.1")
  message(FATAL_ERROR "ZORVEL_MIPSEL_ROOT must name a folder holding the target's unpacked "
                      "mipsel libraries (scripts/cross-test.sh makes one)")
endif()
set(ZORVEL_MIPSEL_ROOT "${ZORVEL_MIPSEL_ROOT}" CACHE PATH "The target's unpacked mipsel libraries")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZORVEL_MIPSEL_ROOT)
set(_root "${ZORVEL_MIPSEL_ROOT}")

# Headers, libraries and package files of the target only; programs of the host.
set(CMAKE_FIND_ROOT_PATH "${_root}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the target's .pc files only and puts the root in front of their paths.
set(ENV{PKG_CONFIG_LIBDIR} "${_root}/usr/lib/mipsel-linux-gnu/pkgconfig:${_root}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${_root}")
unset(ENV{PKG_CONFIG_PATH})

# The linker looks up the libraries that SDL and the others load in turn (PulseAudio keeps one of
# its own in a folder of its own).
set(_libdirs "${_root}/usr/lib/mipsel-linux-gnu:${_root}/lib/mipsel-linux-gnu")
string(APPEND _libdirs ":${_root}/usr/lib/mipsel-linux-gnu/pulseaudio")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_libdirs}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_libdirs}")

# QEMU_LD_PREFIX rather than -L: the emulated tests start the program itself, which the kernel
# hands to qemu through binfmt_misc, and the variable reaches that qemu through the environment.
find_program(ZORVEL_QEMU_MIPSEL NAMES qemu-mipsel-static qemu-mipsel REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env "QEMU_LD_PREFIX=${_root}" "${ZORVEL_QEMU_MIPSEL}")
