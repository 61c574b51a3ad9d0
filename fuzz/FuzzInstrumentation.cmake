# Fuzz builds (-DKORVEL_LIBFUZZER=ON, clang only): every library and program
# of the project is compiled with libFuzzer's coverage instrumentation
# (-fsanitize=fuzzer-no-link), AddressSanitizer and UndefinedBehaviorSanitizer,
# so the fuzzers see the edges of the code they call, not only of their own
# file, and any fault they reach ends the run with a report. Only the fuzz
# programs themselves link libFuzzer (fuzz/CMakeLists.txt). Included from the
# top-level CMakeLists.txt before the first library is defined.
option(KORVEL_LIBFUZZER "Build libFuzzer programs (clang only)" OFF)

if(KORVEL_LIBFUZZER)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KORVEL_LIBFUZZER needs clang: configure with CC=clang CXX=clang++")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
    -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
