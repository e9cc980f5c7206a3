#pragma once

// Inputs of the micro-benchmarks, made from a fixed seed so that every run codes the same bytes.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tovrel::bench {

// `count` pseudo-random bytes (all 256 values).
std::string RandomBytes(std::size_t count, std::uint32_t seed);

// A comma-separated list of `count` mailboxes, every other one with a quoted display name that
// holds a comma, as a user types it into the To field.
std::string MailboxListText(int count);

// About `length` bytes of words separated by single spaces; with `eight_bit_every` > 0 every
// such word is made of bytes above 127 (UTF-8 letters), so it needs encoding in a header.
std::string WordsText(std::size_t length, int eight_bit_every);

// Body lines of `width` characters of ordinary text: letters, spaces, punctuation, and now and
// then a character that quoted-printable escapes (=, @, ~, a UTF-8 letter, a trailing space).
std::string TextLine(std::size_t width, std::uint32_t seed);

}  // namespace tovrel::bench
