#pragma once

#include <cstdio>
#include <cstdlib>

// A violated invariant of the parser under test: says which, then aborts so that libFuzzer
// records the input as a finding.
#define FUZZ_CHECK(condition)                                                                \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                          \
    }                                                                                        \
  } while (false)
