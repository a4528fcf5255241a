#pragma once
// A failed property is a crash for libFuzzer: it keeps the input as an artifact.
#include <cstdio>
#include <cstdlib>

#define KR_FUZZ_CHECK(condition)                                                                  \
    do                                                                                            \
    {                                                                                             \
        if (!(condition))                                                                         \
        {                                                                                         \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)
