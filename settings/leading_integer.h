// The number a user typed into one of the dialog's edit fields.
#pragma once

#include <cstdint>

// The decimal integer at the start of text: leading blanks, an optional sign, then digits up to
// the first non-digit ("800x600" gives 800). No digits give 0. A number beyond 32 bits gives the
// nearest 32-bit value instead of wrapping round.
int32_t parse_leading_integer(const char *text);
