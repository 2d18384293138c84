#pragma once
// A failed property stops the fuzzer with the input that broke it.

#include <cstdio>
#include <cstdlib>

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      std::fprintf(stderr, "check failed: %s (line %d)\n", #cond, __LINE__);   \
      std::abort();                                                            \
    }                                                                          \
  } while (0)
