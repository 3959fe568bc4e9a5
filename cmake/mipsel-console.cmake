# The console build: a static MIPS32 release 1 program on musl, made by scripts/build-console.sh.
#
# ZORVEL_CONSOLE_SYSROOT is the folder that script fills: musl, zlib, libpng, FreeType, SDL 1.2,
# SDL_ttf and SDL_image as static libraries, and the compiler wrappers bin/cc and bin/c++ that
# compile against them only and link statically. Programs built for the target (the keyboard
# image tool at build time) run under qemu-mipsel-static.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)

# The toolchain file is read again for every compiler check, where only the environment and the
# variables listed in CMAKE_TRY_COMPILE_PLATFORM_VARIABLES carry over.
if(NOT ZORVEL_CONSOLE_SYSROOT AND DEFINED ENV{ZORVEL_CONSOLE_SYSROOT})
  set(ZORVEL_CONSOLE_SYSROOT "$ENV{ZORVEL_CONSOLE_SYSROOT}")
endif()
if(NOT ZORVEL_CONSOLE_SYSROOT OR NOT EXISTS "${ZORVEL_CONSOLE_SYSROOT}/bin/c++")
  message(FATAL_ERROR "ZORVEL_CONSOLE_SYSROOT must name the folder scripts/build-console.sh fills")
endif()
set(ZORVEL_CONSOLE_SYSROOT "${ZORVEL_CONSOLE_SYSROOT}" CACHE PATH "The console's static libraries")
set(ENV{ZORVEL_CONSOLE_SYSROOT} "${ZORVEL_CONSOLE_SYSROOT}")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZORVEL_CONSOLE_SYSROOT)
set(_root "${ZORVEL_CONSOLE_SYSROOT}")

set(CMAKE_C_COMPILER "${_root}/bin/cc")
set(CMAKE_CXX_COMPILER "${_root}/bin/c++")
set(CMAKE_AR mipsel-linux-gnu-ar CACHE FILEPATH "")
set(CMAKE_RANLIB mipsel-linux-gnu-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH "${_root}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "${_root}/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
unset(ENV{PKG_CONFIG_PATH})

# A static link takes each library once, after everything that uses it; pkg-config's plain flags
# name only the top libraries, so the whole chain goes at the end of every link. The shims for
# Debian's prebuilt SDL_ttf and SDL_image are there only when the build took one of those, and are
# read anew at every configuration, as the build may have replaced it since.
set(CMAKE_CXX_STANDARD_LIBRARIES "-lSDL_image -lSDL_ttf -lfreetype -lpng16 -lz -lSDL")
if(EXISTS "${_root}/lib/libprebuiltshims.a")
  string(APPEND CMAKE_CXX_STANDARD_LIBRARIES " -lprebuiltshims")
endif()

# Debian's prebuilt SDL_ttf and SDL_image (the last resort when no source of them can be had) hold
# release 2 instructions: a build-time tool runs on a release 2 CPU; the program's proof runs on
# release 1 (scripts/console-proof.sh).
find_program(ZORVEL_QEMU_MIPSEL NAMES qemu-mipsel-static qemu-mipsel REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${ZORVEL_QEMU_MIPSEL}" -cpu 74Kf)
