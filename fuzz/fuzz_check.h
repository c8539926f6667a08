#pragma once
// How a harness reports a broken invariant: a message on stderr, then abort,
// which libFuzzer records as a finding with the input that caused it.

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#ifndef FUZZ_HARNESS_NAME
#error "define FUZZ_HARNESS_NAME before including fuzz_check.h"
#endif

[[noreturn]] inline void fail(const char *what, ...)
{
    va_list args;
    va_start(args, what);
    std::fputs(FUZZ_HARNESS_NAME ": invariant violated: ", stderr);
    std::vfprintf(stderr, what, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::abort();
}

#define CHECK(cond, ...)                                                                           \
    do {                                                                                           \
        if (!(cond))                                                                               \
            fail(__VA_ARGS__);                                                                     \
    } while (0)
