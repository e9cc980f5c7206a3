#include "message/shift_jis.h"

#include <string>

namespace tovrel::message {

namespace {

// Full-width JIS X 0208 codes of the half-width katakana 0xA1..0xDF.
constexpr unsigned short kKatakana[63] = {
    0x2123, 0x2156, 0x2157, 0x2122, 0x2126, 0x2572, 0x2521, 0x2523, 0x2525, 0x2527, 0x2529,
    0x2563, 0x2565, 0x2567, 0x2543, 0x213C, 0x2522, 0x2524, 0x2526, 0x2528, 0x252A, 0x252B,
    0x252D, 0x252F, 0x2531, 0x2533, 0x2535, 0x2537, 0x2539, 0x253B, 0x253D, 0x253F, 0x2541,
    0x2544, 0x2546, 0x2548, 0x254A, 0x254B, 0x254C, 0x254D, 0x254E, 0x254F, 0x2552, 0x2555,
    0x2558, 0x255B, 0x255E, 0x255F, 0x2560, 0x2561, 0x2562, 0x2564, 0x2566, 0x2568, 0x2569,
    0x256A, 0x256B, 0x256C, 0x256D, 0x256F, 0x2573, 0x212B, 0x212C};

constexpr unsigned char kVoicedMark = 222;
constexpr unsigned char kSemiVoicedMark = 223;

// The voiced form of a half-width katakana, 0 when it has none.
unsigned short VoicedForm(unsigned char b) {
  if (b == 179) return 0x2574;  // U -> VU
  if ((b >= 182 && b <= 196) || (b >= 202 && b <= 206)) return kKatakana[b - 0xA1] + 1;
  return 0;
}

class JisWriter {
 public:
  explicit JisWriter(std::size_t reserve) { out_.reserve(reserve); }
  void Single(char c) {
    if (double_) {
      out_.append("\x1b(B");
      double_ = false;
    }
    out_.push_back(c);
  }
  void Double(unsigned high, unsigned low) {
    if (!double_) {
      out_.append("\x1b$B");
      double_ = true;
    }
    out_.push_back(static_cast<char>(high));
    out_.push_back(static_cast<char>(low));
  }
  std::string Finish() {
    if (double_) out_.append("\x1b(B");
    return std::move(out_);
  }

 private:
  std::string out_;
  bool double_ = false;
};

}  // namespace

std::string ShiftJisToJis(std::string_view text) {
  JisWriter out(text.size() + text.size() / 2);
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 128) {
      out.Single(static_cast<char>(b));
      i += 1;
    } else if (b == 128 || b == 160 || b >= 253) {
      i += 1;
    } else if (b >= 240) {  // user-defined area: dropped with its trail byte
      i += 2;
    } else if (b >= 161 && b <= 223) {
      unsigned short code = kKatakana[b - 0xA1];
      i += 1;
      if (i < n) {
        const unsigned char next = static_cast<unsigned char>(text[i]);
        const unsigned short voiced = VoicedForm(b);
        if (next == kVoicedMark && voiced != 0) {
          code = voiced;
          i += 1;
        } else if (next == kSemiVoicedMark && b >= 202 && b <= 206) {
          code = static_cast<unsigned short>(voiced + 1);
          i += 1;
        }
      }
      out.Double(code >> 8, code & 0xFF);
    } else {  // lead byte 129..159 or 224..239
      if (i + 1 < n) {
        const unsigned t = static_cast<unsigned char>(text[i + 1]);
        const unsigned row = b <= 159 ? 0x21 + 2 * (b - 129) : 0x5F + 2 * (b - 224);
        unsigned high = 0;
        unsigned low = 0;
        if (t >= 64 && t <= 126) {
          low = t - 31;
        } else if (t >= 128 && t <= 158) {
          low = t - 32;
        } else if (t >= 159 && t <= 252) {
          high = 1;
          low = t - 126;
        }
        if (low != 0) out.Double(row + high, low);
      }
      i += 2;
    }
  }
  return out.Finish();
}

}  // namespace tovrel::message
