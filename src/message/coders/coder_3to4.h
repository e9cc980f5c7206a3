#pragma once

// The shared core of base64, UU and XX: each turns three bytes into four characters of a
// 64-character table, and back. The families differ only in their tables and line layout.

#include <string>
#include <string_view>

#include "message/coders/coder.h"

namespace tovrel::message {

class Coder3To4 : public AsciiCoder {
 public:
  explicit Coder3To4(BaseComponent* owner = nullptr) : AsciiCoder(owner, 64) {}

  // Appends 4 * ceil(n / 3) characters of `table` for `bytes`; a last group of one or two bytes is
  // completed with zero bytes. No padding character is written. This is the portable way, for
  // any table; the base64 alphabet has faster ones (base64_kernels.h).
  static void AppendGroups(const char* table, std::string_view bytes, std::string& out);

  // Appends the four characters of the group b1 b2 b3.
  void EncodeGroup(unsigned char b1, unsigned char b2, unsigned char b3, std::string& out) const;
  // Appends the three bytes of four table characters; raises TableNotFound.
  void DecodeGroup(char c1, char c2, char c3, char c4, std::string& out) const;

 protected:
  // AppendGroups with this coder's table.
  void EncodeGroups(std::string_view bytes, std::string& out) const;
  // The same into `out`, which has room for 4 * ceil(bytes.size() / 3) characters; `readable`
  // bytes from bytes.data() on may be read (at least bytes.size()).
  void EncodeGroupsInto(std::string_view bytes, std::size_t readable, char* out) const;
  void TableSet() override;
  // Appends the groups of the held bytes to `out` and empties the block.
  void EncodeBlockGroups(std::string& out) {
    const std::size_t start = out.size();
    out.resize(start + 4 * ((block_fill() + 2) / 3));
    EncodeGroupsInto(held(), block_storage(), out.data() + start);
    set_block_fill(0);
  }
  void EncodeFinalGroups(std::string& out) { EncodeBlockGroups(out); }
  // A buffer for one coded line, reused so that coding allocates nothing once it runs.
  std::string& scratch() { return scratch_; }

 private:
  std::string scratch_;
  bool base64_alphabet_ = false;
};

}  // namespace tovrel::message
