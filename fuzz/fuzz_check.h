// A check inside a fuzz target: a violated invariant is a crash the fuzzer
// reports, like a sanitizer finding.
#pragma once

#define FUZZ_CHECK(condition)           \
  do {                                  \
    if (!(condition)) __builtin_trap(); \
  } while (0)
