// A small program with the allocation tracker behind its operators, for the
// tests of the tracker's whole-process behaviour. It prints "site <line>"
// for the source line the test is to find in the report, then:
//   leaks     leaves three 24-byte blocks from one site unreleased
//   clean     releases everything it allocates
//   unknown   releases a block allocated before the tracker existed
//   overrun   writes one byte past a 32-byte block
//   underrun  writes one byte before a block
#include <cstdio>
#include <cstring>

namespace {

struct Item {
  char bytes[24];
};

void Escape(void* block) {
  asm volatile("" : : "r"(block) : "memory");
}

// The block as the compiler cannot follow it, so the stray writes below are
// compiled as written.
volatile char* Opaque(char* block) {
  asm volatile("" : "+r"(block) : : "memory");
  return block;
}

char* g_earlyBlock = nullptr;

// Runs before every initialiser of the program, the tracker's included.
void AllocateEarly(int, char**, char**) {
  g_earlyBlock = new char[40];
}
__attribute__((section(".preinit_array"), used)) void (*const g_allocateEarly)(int, char**,
                                                                               char**) = AllocateEarly;

__attribute__((noinline)) void LeakThreeItems() {
  for (int i = 0; i < 3; ++i) {
    std::printf("site %d\n", __LINE__ + 1);
    Item* item = new Item;
    Escape(item);
  }
}

__attribute__((noinline)) void WriteOnePastTheEnd() {
  volatile char* block = Opaque(new char[32]);
  block[31] = 1;
  block[32] = 1;
}

__attribute__((noinline)) void WriteOneBeforeTheStart() {
  volatile char* block = Opaque(new char[32]);
  block[0] = 1;
  block[-1] = 1;
}

}  // namespace

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  if (std::strcmp(mode, "leaks") == 0) {
    LeakThreeItems();
  } else if (std::strcmp(mode, "clean") == 0) {
    Item* item = new Item;
    Escape(item);
    delete item;
  } else if (std::strcmp(mode, "unknown") == 0) {
    std::printf("site %d\n", __LINE__ + 1);
    delete[] g_earlyBlock;
  } else if (std::strcmp(mode, "overrun") == 0) {
    WriteOnePastTheEnd();
  } else if (std::strcmp(mode, "underrun") == 0) {
    WriteOneBeforeTheStart();
  } else {
    return 2;
  }
  std::fflush(stdout);
  return 0;
}
