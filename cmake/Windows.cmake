# Settings of the 32-bit Windows build (cross compiled with
# cmake/toolchain-mingw-i686.cmake), included by the top-level CMakeLists.txt
# right after project(). Nothing here applies to the Linux build.

if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
  message(FATAL_ERROR "The Windows build is the 32-bit one: configure with "
    "-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake")
endif()

# Wide-character Windows API, no min/max macros, winsock2 rather than the old
# winsock (asio includes it), Windows 7 as the oldest system the calls need.
add_compile_definitions(UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN
  _WIN32_WINNT=0x0601 WINVER=0x0601 ASIO_STANDALONE ASIO_NO_DEPRECATED)
# The libraries are linked statically; libsodium's header otherwise declares
# its functions as DLL imports.
add_compile_definitions(SODIUM_STATIC)
# The C99 printf family of MinGW instead of the system's: the same formats
# as on Linux (%zu, %lld, and %ls for a wide string in a wide format).
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)
# The large test and table sources exceed the object format's section limit
# without big objects.
add_compile_options(-Wa,-mbig-obj)
# Frame pointers everywhere: on 32-bit x86 the call-stack walks of the crash
# report and the allocation tracker (StackWalk64, RtlCaptureStackBackTrace)
# follow the EBP chain, and the compiler's code carries no frame-omission
# records, so without them a walk ends after its first frame.
add_compile_options(-fno-omit-frame-pointer)
# DWARF 4 debug information: the compiler's default, DWARF 5, is more than
# Wine's DbgHelp reads, and the call stacks would lose their files and lines.
add_compile_options(-gdwarf-4)
# Functions kept in one piece: the cold parts the optimiser otherwise moves
# out of a function have address ranges that DbgHelp cannot map to lines.
add_compile_options(-fno-reorder-blocks-and-partition)

# asio is header-only and, unlike on Linux, not in the compiler's own
# include path: its headers come from the dependency cache.
find_path(KORVEL_ASIO_INCLUDE_DIR asio.hpp REQUIRED)
include_directories(SYSTEM ${KORVEL_ASIO_INCLUDE_DIR})

# How much of the tree the Windows build covers: "all", the whole tree
# (the default), or "stream", only the kernel, the string table and the data
# streams with their suites (a quicker build while working on the backend).
set(KORVEL_WINDOWS_STAGE "all" CACHE STRING "Part of the tree the Windows build covers: stream or all")
set_property(CACHE KORVEL_WINDOWS_STAGE PROPERTY STRINGS stream all)

# Static archives before import libraries (libz.a, not libz.dll.a): the
# programs are single files. The compiler's platform settings, read after the
# toolchain file, put the import libraries first, hence this here.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a .dll.a .lib)
set(ZLIB_USE_STATIC_LIBS ON)

# No benchmarks (Google Benchmark is not built for Windows) and no libFuzzer.
set(KORVEL_BUILD_BENCH OFF CACHE BOOL "" FORCE)

# The Windows system libraries the platform layer and the programs use, as
# one target: sockets and completion ports, WinINet, DbgHelp (dumps and
# symbols), the registry and security, ShellExecuteEx, COM (the IE web
# view), file version information, process and user information.
add_library(korvel_windows_system INTERFACE)
target_link_libraries(korvel_windows_system INTERFACE ws2_32 mswsock wininet dbghelp advapi32
  shell32 ole32 oleaut32 uuid version psapi userenv shlwapi)

# Test programs are listed when ctest runs (under Wine), not after each link:
# the build itself never needs Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# Programs that the build runs on the build machine (the string table
# generator) are compiled with the build machine's compiler.
find_program(KORVEL_HOST_CXX NAMES c++ g++ REQUIRED NO_CMAKE_FIND_ROOT_PATH)

# korvel_host_program(<name> <source>): builds a one-file C++ program for the
# build machine and sets <name>_HOST_PROGRAM to its path.
function(korvel_host_program name source)
  set(output ${CMAKE_BINARY_DIR}/host/${name})
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host
    COMMAND ${KORVEL_HOST_CXX} -std=c++20 -O1 -o ${output} ${source}
    DEPENDS ${source}
    COMMENT "Building ${name} for the build machine"
    VERBATIM)
  add_custom_target(${name}_host DEPENDS ${output})
  set(${name}_HOST_PROGRAM ${output} PARENT_SCOPE)
endfunction()

# Windows resources of every program: the icon "nolkIcon", the string table,
# the version information and a manifest (resources/windows/). Added once the
# whole tree is configured, so no program's CMakeLists.txt has to ask for
# them. A program sets the target property KORVEL_WINDOWS_DESCRIPTION for its
# version information's description; KORVEL_WINDOWS_GUI ON for the window
# (the toolkit's own resources, and the manifest that asks for administrator
# rights).
enable_language(RC)
set(KORVEL_VERSION "1.0.0.0" CACHE STRING "Version of the programs in their version information (four numbers)")
define_property(TARGET PROPERTY KORVEL_WINDOWS_DESCRIPTION BRIEF_DOCS "Version information description"
  FULL_DOCS "FileDescription of the program's Windows version information")
define_property(TARGET PROPERTY KORVEL_WINDOWS_GUI BRIEF_DOCS "Patch window program"
  FULL_DOCS "The program is the patch window: toolkit resources and the administrator manifest")

function(korvel_windows_resources target)
  get_target_property(description ${target} KORVEL_WINDOWS_DESCRIPTION)
  if(NOT description)
    set(description "Korvel Patcher: ${target}")
  endif()
  get_target_property(gui ${target} KORVEL_WINDOWS_GUI)
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name "${target}")
  endif()
  get_target_property(suffix ${target} SUFFIX)
  if(suffix STREQUAL "suffix-NOTFOUND")
    set(suffix ".exe")
  endif()
  set(KORVEL_RC_TARGET "${target}")
  set(KORVEL_RC_FILENAME "${output_name}${suffix}")
  set(KORVEL_RC_DESCRIPTION "${description}")
  set(KORVEL_RC_ICON "${PROJECT_SOURCE_DIR}/resources/nolkIcon.ico")
  set(KORVEL_RC_STRINGS "${KORVEL_STRING_TABLE_RC}")
  string(REPLACE "." "," KORVEL_RC_VERSION_COMMAS "${KORVEL_VERSION}")
  if(gui)
    set(KORVEL_RC_MANIFEST "${PROJECT_SOURCE_DIR}/resources/windows/patcher.manifest")
    set(KORVEL_RC_TOOLKIT "#define wxUSE_NO_MANIFEST 1\n#include \"wx/msw/wx.rc\"\n")
  else()
    set(KORVEL_RC_MANIFEST "${PROJECT_SOURCE_DIR}/resources/windows/program.manifest")
    set(KORVEL_RC_TOOLKIT "")
  endif()
  set(rc_file "${CMAKE_BINARY_DIR}/windows-resources/${target}.rc")
  configure_file("${PROJECT_SOURCE_DIR}/resources/windows/program.rc.in" "${rc_file}" @ONLY)
  set_source_files_properties("${rc_file}" TARGET_DIRECTORY ${target} PROPERTIES
    OBJECT_DEPENDS "${KORVEL_STRING_TABLE_RC};${KORVEL_RC_ICON};${KORVEL_RC_MANIFEST}")
  target_sources(${target} PRIVATE "${rc_file}")
  add_dependencies(${target} korvel_string_table)
endfunction()

function(korvel_windows_resources_everywhere directory)
  get_property(targets DIRECTORY "${directory}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    get_target_property(imported ${target} IMPORTED)
    if(type STREQUAL "EXECUTABLE" AND NOT imported AND NOT target STREQUAL "make_string_table")
      korvel_windows_resources(${target})
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY "${directory}" PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    korvel_windows_resources_everywhere("${subdirectory}")
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL korvel_windows_resources_everywhere
  ${PROJECT_SOURCE_DIR})
