#pragma once

// Base64 (RFC 4648 alphabet): the encoder carries every attachment and the SMTP AUTH LOGIN
// credentials; the decoder is its receive-side counterpart.
//
// Base64Encoder output is exactly the base64 of everything fed since the last finish, whatever
// the block size: a full block is coded up to its last whole group of three and the one or two
// bytes left over are carried into the next block. It never breaks lines itself; with
// append_line_break each finish ends in CR LF (the writer finishes every 57-byte piece, giving
// 76-character lines).

#include <cstdint>
#include <string>
#include <string_view>

#include "message/coders/base64_kernels.h"
#include "message/coders/coder_3to4.h"

namespace tovrel::message {

inline constexpr const char* kBase64Table = kBase64Alphabet.data();

class Base64Encoder : public Coder3To4 {
 public:
  explicit Base64Encoder(BaseComponent* owner = nullptr);
  // At least 3, so that a block always holds a whole group.
  void SetBlockSize(std::uint32_t size) override;

 protected:
  void CodeBlock(Sink& out) override;
  void CodeRemainder(Sink& out) override;
  bool CodeFinishedPieces(std::string_view text, std::size_t piece, std::string& out) override;

 private:
  // What one finished input of `bytes` bytes becomes: its groups, padded, and CR LF when lines
  // are asked for. WriteFinished writes it at `o` (reading no more than `readable` bytes at
  // `bytes`) and returns its end.
  std::size_t FinishedChars(std::size_t bytes) const;
  char* WriteFinished(std::string_view bytes, std::size_t readable, char* o) const;
};

// Base64 text to bytes. Line breaks are skipped anywhere, a group may span blocks and lines, "="
// ends a group; a character outside the alphabet raises TableNotFound. A final group of two or
// three characters gives one or two bytes; a single stray character is dropped.
class Base64Decoder : public Coder3To4 {
 public:
  explicit Base64Decoder(BaseComponent* owner = nullptr);
  void Restart() override;

 protected:
  void CodeBlock(Sink& out) override;
  void CodeRemainder(Sink& out) override;

 private:
  void DecodeHeld(Sink& out, bool final);
  char quad_[4] = {};
  int quad_fill_ = 0;
  int padding_ = 0;
};

// The base64 text of `text` on one line (for the SMTP AUTH LOGIN exchange).
std::string EncodeBase64Text(std::string_view text);
// Appends the padded base64 text of `bytes` to `out`, without a coder object (for short texts in
// hot paths such as encoded header words).
void AppendBase64(std::string_view bytes, std::string& out);

}  // namespace tovrel::message
