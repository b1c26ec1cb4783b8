// A check that holds in every build of a fuzz target: NDEBUG does not turn it
// off, and a failure aborts, which the fuzzer reports with its input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define CHECK(condition)                                                                       \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)
