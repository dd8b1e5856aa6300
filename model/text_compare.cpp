#include "model/text_compare.h"

namespace {

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

size_t bounded_text_length(const char *text, size_t area) {
    size_t length = 0;
    while (length < area && text[length] != '\0') ++length;
    return length;
}

bool bounded_text_equal_ignoring_case(const char *a, size_t a_area, const char *b, size_t b_area) {
    const size_t a_length = bounded_text_length(a, a_area);
    if (a_length != bounded_text_length(b, b_area)) return false;
    for (size_t i = 0; i < a_length; ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

int bounded_text_compare_ignoring_case(const char *a, size_t a_area, const char *b, size_t b_area) {
    const size_t a_length = bounded_text_length(a, a_area);
    const size_t b_length = bounded_text_length(b, b_area);
    for (size_t i = 0; i < a_length && i < b_length; ++i) {
        const unsigned char x = static_cast<unsigned char>(ascii_lower(a[i]));
        const unsigned char y = static_cast<unsigned char>(ascii_lower(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a_length == b_length ? 0 : (a_length < b_length ? -1 : 1);
}

bool text_equal_ignoring_case(const char *a, const char *b) {
    for (;; ++a, ++b) {
        if (ascii_lower(*a) != ascii_lower(*b)) return false;
        if (*a == '\0') return true;
    }
}
