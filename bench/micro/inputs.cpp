#include "micro/inputs.h"

#include <random>

namespace tovrel::bench {

std::string RandomBytes(std::size_t count, std::uint32_t seed) {
  std::mt19937 generator(seed);
  std::string bytes(count, '\0');
  for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
  return bytes;
}

std::string MailboxListText(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    if (i > 0) text += ", ";
    std::string number = std::to_string(i);
    if (i % 2 == 0) {
      text += "\"Doe, Jane " + number + "\" <jane.doe" + number + "@example.org>";
    } else {
      text += "user" + number + "@mail.example.com";
    }
  }
  return text;
}

std::string WordsText(std::size_t length, int eight_bit_every) {
  static const char* const kWords[] = {"report", "for",   "the",  "quarter", "sales",
                                       "and",    "plans", "next", "year",    "draft"};
  std::string text;
  for (int i = 0; text.size() < length; ++i) {
    if (!text.empty()) text += ' ';
    if (eight_bit_every > 0 && i % eight_bit_every == eight_bit_every - 1) {
      text += "\xC3\xA9t\xC3\xA9";  // a UTF-8 word
    } else {
      text += kWords[i % 10];
    }
  }
  return text;
}

std::string TextLine(std::size_t width, std::uint32_t seed) {
  std::mt19937 generator(seed);
  static const std::string kOrdinary =
      "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789 ,.;:-()  ";
  std::string line;
  while (line.size() < width) {
    unsigned roll = generator() % 100;
    if (roll < 2) {
      line += '=';
    } else if (roll < 3) {
      line += '@';
    } else if (roll < 5) {
      line += "\xC3\xA9";
    } else {
      line += kOrdinary[generator() % kOrdinary.size()];
    }
  }
  line.resize(width);
  if (seed % 4 == 0) line.back() = ' ';
  return line;
}

}  // namespace tovrel::bench
