// SHA-256 of a byte string, as lower-case hex: fingerprints of decoded pictures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

std::string sha256_hex(const uint8_t *data, size_t size);
