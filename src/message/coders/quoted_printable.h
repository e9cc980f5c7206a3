#pragma once

// Quoted-printable (RFC 2045) for text parts. The encoder escapes every byte that is not safe in
// mail (control bytes, 8-bit bytes, "=" and the characters gateways are known to mangle), keeps
// the input's CR LF line breaks, protects a blank at the end of a line, and cuts text that has no
// line break of its own into lines of at most 76 characters with soft line breaks.

#include <cstdint>
#include <string>
#include <string_view>

#include "message/coders/coder.h"

namespace tovrel::message {

class QuotedPrintableEncoder : public Coder {
 public:
  explicit QuotedPrintableEncoder(BaseComponent* owner = nullptr);
  // Only forgets the pending line; block and queue stay.
  void Restart() override;
  // At least 2: a CR that ends a block is held for the LF that may follow, and the block must
  // keep room for that LF.
  void SetBlockSize(std::uint32_t size) override;

  // Off (the default), a line that the input closes with a line break is emitted whole, however
  // long. On, it is cut with soft line breaks as well, so that no encoded line is longer than
  // 76 characters (RFC 2045), whatever the input's line lengths.
  bool wrap_long_lines() const { return wrap_long_lines_; }
  void set_wrap_long_lines(bool on) { wrap_long_lines_ = on; }

 protected:
  void CodeBlock(Sink& out) override;
  void CodeRemainder(Sink& out) override;
  // Takes coded text, emits the lines it completes and cuts over-long text with soft breaks.
  virtual void EmitEncoded(Sink& out, std::string_view text);

 private:
  void EncodeHeld(Sink& out, std::uint32_t count);
  void EmitSoftBrokenLines(Sink& out, bool all);
  // Emits `line` (coded, without its line break) and CR LF, soft-broken when wrapping is on.
  void EmitHardLine(Sink& out, std::string_view line);
  bool wrap_long_lines_ = false;
  std::string pending_line_;
  std::string coded_;
  std::string coded_line_;  // reused for every line closed by a line break
  std::string line_;        // reused for every emitted line
};

class QuotedPrintableDecoder : public Coder {
 public:
  explicit QuotedPrintableDecoder(BaseComponent* owner = nullptr);
  void Restart() override;

 protected:
  void CodeBlock(Sink& out) override;
  void CodeRemainder(Sink& out) override;

 private:
  void DecodeHeld(Sink& out);
  std::string escape_;  // characters collected after an "=" not yet resolved
  bool in_escape_ = false;
  std::string decoded_;
};

// `marker` and the two upper-case hexadecimal digits of `byte`, appended to `out`: "=XX" as
// quoted-printable and encoded words write a byte, "%XX" as URLs and RFC 2231 values do.
void HexEscape(unsigned char byte, std::string& out, char marker = '=');

// The length of `line` (without a line break) once encoded on its own without soft line breaks;
// a line break inside it counts as two escapes.
std::size_t QuotedPrintableLength(std::string_view line);

}  // namespace tovrel::message
