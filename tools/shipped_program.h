// The fragment program of the shipped asset set, built into the program from assets/light_std.fp.
#pragma once

#include <cstddef>
#include <cstdint>

extern const uint8_t kShippedProgram[];
extern const size_t kShippedProgramSize;
