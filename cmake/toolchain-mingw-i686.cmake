# Cross build for 32-bit Windows with Debian's mingw-w64 i686 compilers of
# the posix thread model (std::thread and std::mutex work on them).
#
#   cmake -S . -B build-windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
#
# The libraries come from the dependency cache that
# scripts/build-windows-deps.sh fills (one install prefix per Debian source
# package and version, listed in <cache>/prefixes.cmake) and from the
# cross compiler's own tree /usr/i686-w64-mingw32 (zlib, the Windows system
# libraries). Programs are linked fully static, so one .exe runs on a bare
# Windows (or Wine) without any of the compiler's DLLs. Test programs run
# under Wine through CMAKE_CROSSCOMPILING_EMULATOR, so ctest works as on
# Linux.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KORVEL_MINGW_HOST i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KORVEL_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVEL_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVEL_MINGW_HOST}-windres)
set(CMAKE_AR ${KORVEL_MINGW_HOST}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${KORVEL_MINGW_HOST}-ranlib CACHE FILEPATH "")

# The dependency cache; the same default as scripts/build-windows-deps.sh.
if(DEFINED ENV{KORVEL_WINDOWS_DEPS})
  set(KORVEL_WINDOWS_DEPS "$ENV{KORVEL_WINDOWS_DEPS}")
else()
  set(KORVEL_WINDOWS_DEPS "$ENV{HOME}/.cache/korvel-windows-deps")
endif()
set(KORVEL_WINDOWS_DEP_PREFIXES "")
if(EXISTS "${KORVEL_WINDOWS_DEPS}/prefixes.cmake")
  include("${KORVEL_WINDOWS_DEPS}/prefixes.cmake")
endif()

set(CMAKE_FIND_ROOT_PATH ${KORVEL_WINDOWS_DEP_PREFIXES} /usr/${KORVEL_MINGW_HOST})
# Libraries, headers and CMake packages only from the target side; programs
# (the compilers' helpers, wx-config) from the build machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees only the target's .pc files, never the build machine's.
set(korvel_pc_dirs "")
foreach(korvel_prefix IN LISTS KORVEL_WINDOWS_DEP_PREFIXES)
  list(APPEND korvel_pc_dirs "${korvel_prefix}/lib/pkgconfig" "${korvel_prefix}/share/pkgconfig")
endforeach()
list(APPEND korvel_pc_dirs /usr/${KORVEL_MINGW_HOST}/lib/pkgconfig)
string(REPLACE ";" ":" korvel_pc_path "${korvel_pc_dirs}")
set(ENV{PKG_CONFIG_LIBDIR} "${korvel_pc_path}")
set(ENV{PKG_CONFIG_PATH} "")
unset(ENV{PKG_CONFIG_SYSROOT_DIR})

# wxWidgets describes itself through its wx-config script (FindwxWidgets
# uses it when cross compiling).
foreach(korvel_prefix IN LISTS KORVEL_WINDOWS_DEP_PREFIXES)
  if(EXISTS "${korvel_prefix}/bin/wx-config")
    set(wxWidgets_CONFIG_EXECUTABLE "${korvel_prefix}/bin/wx-config" CACHE FILEPATH "" FORCE)
  endif()
endforeach()

# One self-contained executable: libgcc, libstdc++ and winpthread linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Test programs run under Wine, in a Wine prefix of the project's own so the
# user's ~/.wine is never touched; the script says so when Wine is missing.
get_filename_component(korvel_source_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${korvel_source_root}/scripts/wine-run.sh")
