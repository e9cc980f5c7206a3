#pragma once

// The 3-to-4 coders: base64 (attachments, SMTP AUTH LOGIN), UU and XX. Each turns three bytes into
// four characters of a 64-character table.
//
// Base64Encoder output is exactly RFC 4648 base64 of everything fed since the last finish,
// whatever the block size: a full block is coded up to its last whole group of three and the one
// or two bytes left over are carried into the next block. It never breaks lines itself; with
// append_line_break each finish ends in CR LF (the writer finishes every 57-byte piece, giving
// 76-character lines).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "message/coders/coder.h"
#include "message/string_list.h"

namespace tovrel::message {

class Coder3To4 : public AsciiCoder {
 public:
  explicit Coder3To4(BaseComponent* owner = nullptr) : AsciiCoder(owner, 64) {}

  // Appends the four characters of the group b1 b2 b3.
  void EncodeGroup(unsigned char b1, unsigned char b2, unsigned char b3, std::string& out) const;
  // Appends the three bytes of four table characters; raises TableNotFound.
  void DecodeGroup(char c1, char c2, char c3, char c4, std::string& out) const;

 protected:
  // Appends 4 * ceil(n / 3) characters for `bytes`; a last group of one or two bytes is completed
  // with zero bytes. No padding character is written.
  void EncodeGroups(std::string_view bytes, std::string& out) const;
  // Encodes the held bytes into scratch() and empties the block.
  void EncodeBlockGroups();
  void EncodeFinalGroups() { EncodeBlockGroups(); }
  std::string& scratch() { return scratch_; }

 private:
  std::string scratch_;
};

class Base64Encoder : public Coder3To4 {
 public:
  explicit Base64Encoder(BaseComponent* owner = nullptr);
  // At least 3, so that a block always holds a whole group.
  void SetBlockSize(std::uint32_t size) override;

 protected:
  void CodeBlock() override;
  void CodeRemainder() override;
};

// Base64 text to bytes. Line breaks are skipped anywhere, a group may span blocks and lines, "="
// ends a group; a character outside the alphabet raises TableNotFound. A final group of two or
// three characters gives one or two bytes; a single stray character is dropped.
class Base64Decoder : public Coder3To4 {
 public:
  explicit Base64Decoder(BaseComponent* owner = nullptr);
  void Restart() override;

 protected:
  void CodeBlock() override;
  void CodeRemainder() override;

 private:
  void DecodeHeld(bool final);
  char quad_[4] = {};
  int quad_fill_ = 0;
  int padding_ = 0;
};

// The base64 text of `text` on one line (for the SMTP AUTH LOGIN exchange).
std::string EncodeBase64Text(std::string_view text);
// Appends the padded base64 text of `bytes` to `out`, without a coder object (for short texts in
// hot paths such as encoded header words).
void AppendBase64(std::string_view bytes, std::string& out);

// uuencode: "begin <mode> <name>", data lines of up to 61 bytes led by their length character,
// the empty data line and "end", each ending in CR LF. Finish once per file.
class UUEncoder : public Coder3To4 {
 public:
  explicit UUEncoder(BaseComponent* owner = nullptr);

  bool send_table() const { return send_table_; }
  void set_send_table(bool on) { send_table_ = on; }
  bool header_pending() const { return header_pending_; }
  std::uint32_t file_mode() const { return file_mode_; }
  void set_file_mode(std::uint32_t mode) { file_mode_ = mode; }

  // A table of 64 characters or more replaces the table; a shorter one only its first entries.
  void ReplaceTable(std::string_view table) override;
  // 1..63: the length of a data line has to fit its one-character length field.
  void SetBlockSize(std::uint32_t size) override;
  // Also arms the header again, so the next input becomes a file of its own.
  void Restart() override;

 protected:
  virtual void WriteHeader();
  void CodeBlock() override;
  void CodeRemainder() override;

 private:
  void EmitDataLine(std::uint32_t count);
  bool send_table_ = false;
  bool header_pending_ = true;
  std::uint32_t file_mode_ = 644;
};

class XXEncoder : public UUEncoder {
 public:
  explicit XXEncoder(BaseComponent* owner = nullptr);
};

// Receive-side UU decoding: finds "TABLE"/"BEGIN " (any case), reads the mode and file name,
// decodes data lines by their length character and stops at the empty data line and "END".
// Header problems go to error_list() instead of raising.
class UUDecoder : public Coder3To4 {
 public:
  static constexpr int kNoticeTable = 41;
  static constexpr int kNoticeBegin = 42;
  static constexpr int kNoticeNoBegin = 43;
  static constexpr int kNoticeEmptyLine = 44;
  static constexpr int kNoticeEnd = 45;
  static constexpr int kNoticeFileMode = 47;
  static constexpr int kNoticeBadFileMode = 48;
  static constexpr int kNoticeFileName = 5;

  explicit UUDecoder(BaseComponent* owner = nullptr);
  void Restart() override;

  bool error() const { return error_; }
  const StringList& error_list() const { return error_list_; }
  bool completed() const { return completed_; }
  std::uint32_t file_mode() const { return file_mode_; }

 protected:
  void CodeBlock() override;
  void CodeRemainder() override;

 private:
  enum class State { kSeekHeader, kTableLine1, kTableLine2, kExpectBegin, kData, kExpectEnd };
  void SetState(State state);
  void TakeLines(bool final);
  void HandleLine(std::string_view line);
  void HandleBegin(std::string_view rest);
  void DecodeDataLine(std::string_view line);
  void AddError(const char* text);

  State state_ = State::kSeekHeader;
  std::string line_buffer_;
  std::string table_first_half_;
  std::string decoded_;
  bool error_ = false;
  bool completed_ = false;
  StringList error_list_;
  std::uint32_t file_mode_ = 644;
};

class XXDecoder : public UUDecoder {
 public:
  explicit XXDecoder(BaseComponent* owner = nullptr);
};

inline constexpr const char* kBase64Table =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
inline constexpr const char* kUUTable =
    "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
inline constexpr const char* kXXTable =
    "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

}  // namespace tovrel::message
