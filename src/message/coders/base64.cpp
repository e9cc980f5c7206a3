#include "message/coders/base64.h"

#include <algorithm>
#include <cstring>

namespace tovrel::message {
namespace {

// Turns the last one or two characters of a group completed with zero bytes into "=", in the
// text that ends before `end`.
void Pad(std::size_t byte_count, char* end) {
  switch (byte_count % 3) {
    case 1:
      end[-2] = '=';
      [[fallthrough]];
    case 2:
      end[-1] = '=';
  }
}

void Pad(std::size_t byte_count, std::string& text) { Pad(byte_count, text.data() + text.size()); }

std::size_t GroupChars(std::size_t bytes) { return 4 * ((bytes + 2) / 3); }

}  // namespace

std::size_t Base64Encoder::FinishedChars(std::size_t bytes) const {
  return GroupChars(bytes) + (append_line_break() ? 2 : 0);
}

char* Base64Encoder::WriteFinished(std::string_view bytes, std::size_t readable, char* o) const {
  EncodeGroupsInto(bytes, readable, o);
  o += GroupChars(bytes.size());
  Pad(bytes.size(), o);
  if (append_line_break()) {
    *o++ = '\r';
    *o++ = '\n';
  }
  return o;
}

Base64Encoder::Base64Encoder(BaseComponent* owner) : Coder3To4(owner) {
  SetCodingTable(kBase64Table);
}

void Base64Encoder::SetBlockSize(std::uint32_t size) {
  Coder3To4::SetBlockSize(std::max(size, 3u));
}

void Base64Encoder::CodeBlock(Sink& out) {
  // Code up to the last whole group and carry the rest, so that block borders never show in the
  // output.
  const std::uint32_t fill = block_fill();
  const std::uint32_t whole = fill / 3 * 3;
  AddBytesCoded(whole);
  std::string& text = scratch();
  text.clear();
  EncodeGroups(held().substr(0, whole), text);
  const std::uint32_t carried = fill - whole;
  std::memmove(block_data(), block_data() + whole, carried);
  set_block_fill(carried);
  EmitData(out, text);
}

void Base64Encoder::CodeRemainder(Sink& out) {
  set_finishing(true);
  const std::uint32_t n = block_fill();
  if (n == 0) return;
  AddBytesCoded(n);
  if (std::string* direct = out.Text()) {
    // Straight into the caller's buffer: one attachment line per call on the hot path.
    const std::size_t start = direct->size();
    direct->resize(start + FinishedChars(n));
    WriteFinished(held(), block_storage(), direct->data() + start);
    set_block_fill(0);
    AddBytesEmitted(FinishedChars(n));
    return;
  }
  std::string& text = scratch();
  text.clear();
  EncodeFinalGroups(text);
  Pad(n, text);
  EmitData(out, text);
}

Base64Decoder::Base64Decoder(BaseComponent* owner) : Coder3To4(owner) {
  SetCodingTable(kBase64Table);
}

void Base64Decoder::Restart() {
  Coder3To4::Restart();
  quad_fill_ = 0;
  padding_ = 0;
}

void Base64Decoder::DecodeHeld(Sink& sink, bool final) {
  std::string& out = scratch();
  out.clear();
  const std::string_view text = held();
  AddBytesCoded(text.size());
  for (const char c : text) {
    if (c == '\r' || c == '\n') continue;
    if (c == '=') {
      // Padding completes the group; stray "=" after a complete group is ignored.
      if (quad_fill_ >= 2) {
        quad_[quad_fill_++] = kBase64Table[0];
        ++padding_;
      }
    } else {
      if (padding_ > 0) {  // data after padding starts a new group
        quad_fill_ = 0;
        padding_ = 0;
      }
      IndexInTable(c);  // raises for a character outside the alphabet
      quad_[quad_fill_++] = c;
    }
    if (quad_fill_ == 4) {
      DecodeGroup(quad_[0], quad_[1], quad_[2], quad_[3], out);
      out.resize(out.size() - static_cast<std::size_t>(padding_));
      quad_fill_ = 0;
      padding_ = 0;
    }
  }
  if (final && quad_fill_ >= 2) {
    const int bytes = quad_fill_ - 1;
    for (int i = quad_fill_; i < 4; ++i) quad_[i] = kBase64Table[0];
    DecodeGroup(quad_[0], quad_[1], quad_[2], quad_[3], out);
    out.resize(out.size() - static_cast<std::size_t>(3 - bytes));
  }
  if (final) {
    quad_fill_ = 0;
    padding_ = 0;
  }
  set_block_fill(0);
  if (!out.empty() || final) EmitData(sink, out);
}

bool Base64Encoder::CodeFinishedPieces(std::string_view text, std::size_t piece, std::string& out) {
  // A piece that fills the block would be coded as a block of its own, ending a line early.
  if (piece >= block_size()) return false;
  // Every piece is one finished input.
  const std::size_t rest = text.size() % piece;
  const std::size_t added =
      text.size() / piece * FinishedChars(piece) + (rest > 0 ? FinishedChars(rest) : 0);
  const std::size_t start = out.size();
  out.resize(start + added);
  char* o = out.data() + start;
  for (std::size_t at = 0; at < text.size(); at += piece) {
    o = WriteFinished(text.substr(at, piece), text.size() - at, o);
  }
  AddBytesCoded(text.size());
  AddBytesEmitted(added);
  return true;
}

void Base64Decoder::CodeBlock(Sink& out) { DecodeHeld(out, false); }

void Base64Decoder::CodeRemainder(Sink& out) {
  set_finishing(true);
  if (block_fill() == 0 && quad_fill_ == 0) return;
  DecodeHeld(out, true);
}

std::string EncodeBase64Text(std::string_view text) {
  Base64Encoder encoder;
  std::string result;
  encoder.Feed(text, result);
  encoder.FinishInput(result);
  return result;
}

void AppendBase64(std::string_view bytes, std::string& out) {
  const std::size_t start = out.size();
  out.resize(start + GroupChars(bytes.size()));
  EncodeBase64Groups(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                     bytes.size(), out.data() + start);
  Pad(bytes.size(), out);
}

}  // namespace tovrel::message
