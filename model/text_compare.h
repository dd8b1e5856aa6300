// Text comparison that ignores the case of ASCII letters only (the same on every platform and
// locale), with optional bounds for names stored in fixed-size areas.
#pragma once

#include <cstddef>

bool text_equal_ignoring_case(const char *a, const char *b);

// Each text ends at its NUL or at the end of its area, whichever comes first.
bool bounded_text_equal_ignoring_case(const char *a, size_t a_area, const char *b, size_t b_area);

// An order consistent with bounded_text_equal_ignoring_case: negative, 0 or positive.
int bounded_text_compare_ignoring_case(const char *a, size_t a_area, const char *b, size_t b_area);

// Length up to the NUL or the end of the area.
size_t bounded_text_length(const char *text, size_t area);
