#pragma once

// The fuzz targets as plain functions, so that the saved corpus and the
// regression inputs are replayed by an ordinary test in every build, without
// libFuzzer. Each one aborts when an input breaks a rule of the code it drives.

#include <cstddef>
#include <cstdint>

// Bytes from the board, in arbitrary chunks, through line assembly and the
// whole receive dispatch down to the log record.
void fuzzReceive(const std::uint8_t* data, std::size_t size);

// Text typed by the operator or read from the settings file, through the
// number parsers, rounding and the scale argument.
void fuzzNumbers(const std::uint8_t* data, std::size_t size);
