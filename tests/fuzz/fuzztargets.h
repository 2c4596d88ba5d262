// SPDX-License-Identifier: MIT
#pragma once

// The fuzz targets as plain functions, so that the saved corpus and the
// regression inputs are replayed by an ordinary test in every build, without
// libFuzzer. Each one aborts when an input breaks a rule of the code it drives.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Bytes from the board, in arbitrary chunks, through line assembly and the
// whole receive dispatch down to the log record.
void fuzzReceive(const std::uint8_t* data, std::size_t size);

// Text typed by the operator or read from the settings file, through the
// number parsers, rounding and the scale argument.
void fuzzNumbers(const std::uint8_t* data, std::size_t size);

// Reports which rule an input broke, then aborts so the fuzzer keeps it.
[[noreturn]] inline void fuzzFailure(const char* target, const char* what, const QString& detail)
{
    std::fprintf(stderr, "%s: %s: \"%s\"\n", target, what, qPrintable(detail));
    std::abort();
}

#define FUZZ_CHECK(target, cond, detail)                                                           \
    do {                                                                                           \
        if (!(cond))                                                                               \
            fuzzFailure(target, #cond, detail);                                                    \
    } while (false)
