// KORVEL_PRINTF_FORMAT(f, a): the compiler checks printf-style calls, with
// the C99 conversions (%zu, %lld) that the program's formatting functions
// support on every platform. MinGW's plain "printf" check means the older
// Microsoft conversions, so it is asked for the GNU ones there.
#pragma once

#if defined(__MINGW32__)
#define KORVEL_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#define KORVEL_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#endif
