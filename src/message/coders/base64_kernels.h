#pragma once

// The base64 group encoders: the same bytes to the same characters of the RFC 4648 alphabet, one
// portable and, on x86-64, vector ones that the processor is asked for once at run time. The
// attachment path spends most of its time here, so the fastest one it can run is taken.

#include <cstddef>
#include <span>
#include <string_view>

namespace tovrel::message {

inline constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The one place where three bytes become four characters of `table` (64 of them): the 24 bits
// b1 b2 b3 read as four 6-bit values, most significant first.
inline void PackGroup(const char* table, unsigned b1, unsigned b2, unsigned b3, char* o) {
  const unsigned v = b1 << 16 | b2 << 8 | b3;
  o[0] = table[v >> 18];
  o[1] = table[(v >> 12) & 63];
  o[2] = table[(v >> 6) & 63];
  o[3] = table[v & 63];
}
// The groups of `bytes` with any table, a group at a time, as the kernels below write them.
void PackGroups(const char* table, std::string_view bytes, char* o);

// Writes 4 * ceil(n / 3) characters for the n bytes at `in`; a last group of one or two bytes is
// completed with zero bytes, and no padding is written. Reads nothing outside the first
// `readable` bytes at `in` (at least n): a vector load that may run a few bytes past the input
// saves coding the end of a short run (an attachment line) a group at a time.
using Base64GroupsFunction = void (*)(const unsigned char* in, std::size_t n, std::size_t readable,
                                      char* out);

struct Base64Kernel {
  std::string_view name;
  Base64GroupsFunction encode;
};

// The kernels this processor can run, the portable one first and the fastest last.
std::span<const Base64Kernel> Base64Kernels();

// The fastest of them.
void EncodeBase64Groups(const unsigned char* in, std::size_t n, std::size_t readable, char* out);

}  // namespace tovrel::message
