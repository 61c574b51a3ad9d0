// Marks a test that needs a Linux facility: on Windows it is skipped, and
// the reason is printed with the skip. Nothing happens elsewhere.
#pragma once

#include <gtest/gtest.h>

#ifdef _WIN32
#define KORVEL_LINUX_ONLY(reason) GTEST_SKIP() << "Linux only: " << reason
#else
#define KORVEL_LINUX_ONLY(reason) static_cast<void>(0)
#endif
