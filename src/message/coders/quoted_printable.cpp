#include "message/coders/quoted_printable.h"

#include <algorithm>

namespace tovrel::message {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Characters that some gateways change (RFC 2045 "safe" list), always written escaped.
constexpr bool IsGatewaySpecial(unsigned char c) {
  switch (c) {
    case '!':
    case '"':
    case '#':
    case '$':
    case '@':
    case '[':
    case '\\':
    case ']':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}':
    case '~':
      return true;
    default:
      return false;
  }
}

constexpr std::size_t kMaxPending = 75;
// RFC 2045: an encoded line holds at most 76 characters before its CR LF.
constexpr std::size_t kMaxLine = 76;

// Where to cut the coded text at `at` for a soft line break after at most 75 characters, so that
// no escape is split.
std::size_t SoftCut(const char* at) {
  if (at[72] == '=') return 72;
  if (at[73] == '=') return 73;
  if (at[74] == '=') return 74;
  return 75;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

void HexEscape(unsigned char byte, std::string& out, char marker) {
  out.push_back(marker);
  out.push_back(kHexDigits[byte >> 4]);
  out.push_back(kHexDigits[byte & 15]);
}

std::size_t QuotedPrintableLength(std::string_view line) {
  std::size_t length = 0;
  for (const char c : line) {
    const auto b = static_cast<unsigned char>(c);
    length += b < 32 || b > 126 || b == '=' || IsGatewaySpecial(b) ? 3 : 1;
  }
  if (!line.empty() && line.back() == ' ') length += 2;  // a trailing TAB counts 3 already
  return length;
}

QuotedPrintableEncoder::QuotedPrintableEncoder(BaseComponent* owner) : Coder(owner) {
  set_append_line_break(false);
}

void QuotedPrintableEncoder::Restart() { pending_line_.clear(); }

void QuotedPrintableEncoder::SetBlockSize(std::uint32_t size) {
  Coder::SetBlockSize(std::max(size, 2u));
}

void QuotedPrintableEncoder::EncodeHeld(Sink& out, std::uint32_t count) {
  const auto* p = reinterpret_cast<const unsigned char*>(block_data());
  coded_.clear();
  for (std::uint32_t i = 0; i < count; ++i) {
    const unsigned char b = p[i];
    if (b < 32 || b > 126) {
      if (b == '\r' && i + 1 == count) {
        // Keep a CR that ends the block: the next input may bring its LF.
        block_data()[0] = '\r';
        set_block_fill(1);
        EmitEncoded(out, coded_);
        return;
      }
      if (b == '\r' && p[i + 1] == '\n') {
        coded_.append("\r\n");
        ++i;
      } else {
        HexEscape(b, coded_);
      }
    } else if (b == '=' || IsGatewaySpecial(b)) {
      HexEscape(b, coded_);
    } else {
      coded_.push_back(static_cast<char>(b));
    }
  }
  set_block_fill(0);
  EmitEncoded(out, coded_);
}

void QuotedPrintableEncoder::CodeBlock(Sink& out) { EncodeHeld(out, block_size()); }

void QuotedPrintableEncoder::EmitSoftBrokenLines(Sink& out, bool all) {
  std::size_t start = 0;
  std::string& line = line_;
  while (pending_line_.size() - start > kMaxPending) {
    const char* at = pending_line_.data() + start;
    const std::size_t cut = SoftCut(at);
    line.assign(at, cut);
    line.append("=\r\n");
    EmitData(out, line);
    start += cut;
  }
  if (all && start < pending_line_.size()) {
    EmitData(out, std::string_view(pending_line_).substr(start));
    start = pending_line_.size();
  }
  pending_line_.erase(0, start);
}

void QuotedPrintableEncoder::EmitHardLine(Sink& out, std::string_view line) {
  std::size_t start = 0;
  if (wrap_long_lines_) {
    while (line.size() - start > kMaxLine) {
      const std::size_t cut = SoftCut(line.data() + start);
      line_.assign(line.substr(start, cut));
      line_.append("=\r\n");
      EmitData(out, line_);
      start += cut;
    }
  }
  line_.assign(line.substr(start));
  line_.append("\r\n");
  EmitData(out, line_);
}

void QuotedPrintableEncoder::EmitEncoded(Sink& out, std::string_view text) {
  pending_line_.append(text);
  std::size_t start = 0;
  std::string& line = coded_line_;
  for (std::size_t crlf; (crlf = pending_line_.find("\r\n", start)) != std::string::npos;
       start = crlf + 2) {
    line.assign(pending_line_, start, crlf - start);
    if (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
      const unsigned char blank = static_cast<unsigned char>(line.back());
      line.pop_back();
      HexEscape(blank, line);
    }
    EmitHardLine(out, line);
  }
  pending_line_.erase(0, start);
  EmitSoftBrokenLines(out, false);
}

void QuotedPrintableEncoder::CodeRemainder(Sink& out) {
  set_finishing(true);
  const std::uint32_t saved_size = block_size();
  const std::uint32_t count = block_fill();
  set_block_size_only(count);
  if (count != 0) EncodeHeld(out, count);
  if (block_fill() != 0) {  // the input ended with a CR
    std::string escaped;
    HexEscape('\r', escaped);
    EmitEncoded(out, escaped);
  }
  if (!pending_line_.empty()) {
    if (pending_line_.back() == ' ' || pending_line_.back() == '\t') {
      const unsigned char blank = static_cast<unsigned char>(pending_line_.back());
      pending_line_.pop_back();
      HexEscape(blank, pending_line_);
    }
    EmitSoftBrokenLines(out, true);
  }
  set_block_size_only(saved_size);
  set_block_fill(0);
}

QuotedPrintableDecoder::QuotedPrintableDecoder(BaseComponent* owner) : Coder(owner) {
  set_append_line_break(false);
}

void QuotedPrintableDecoder::Restart() {
  set_append_line_break(false);
  escape_.clear();
  in_escape_ = false;
}

void QuotedPrintableDecoder::DecodeHeld(Sink& out) {
  decoded_.clear();
  for (const char c : held()) {
    if (in_escape_) {
      escape_.push_back(c);
      if (escape_.size() < 2) continue;
      const int high = HexValue(escape_[0]);
      const int low = HexValue(escape_[1]);
      if (high >= 0 && low >= 0) {
        decoded_.push_back(static_cast<char>(high * 16 + low));
      } else if (escape_ != "\r\n") {  // CR LF after "=" is a soft line break
        decoded_.push_back('=');
        decoded_.append(escape_);
      }
      escape_.clear();
      in_escape_ = false;
    } else if (c == '=') {
      in_escape_ = true;
    } else {
      decoded_.push_back(c);
    }
  }
  AddBytesCoded(block_fill());
  set_block_fill(0);
  EmitData(out, decoded_);
}

void QuotedPrintableDecoder::CodeBlock(Sink& out) { DecodeHeld(out); }

void QuotedPrintableDecoder::CodeRemainder(Sink& out) {
  set_finishing(true);
  DecodeHeld(out);
  if (in_escape_) {
    EmitData(out, escape_);
    escape_.clear();
    in_escape_ = false;
  }
}

}  // namespace tovrel::message
