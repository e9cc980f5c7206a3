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
