#pragma once

// uuencode and xxencode: the same line format over two tables. The encoders write one file per
// finish; the decoders read it back, reporting the header they find as notices.

#include <cstdint>
#include <string>
#include <string_view>

#include "message/coders/coder_3to4.h"
#include "message/string_list.h"

namespace tovrel::message {

inline constexpr const char* kUUTable =
    "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
inline constexpr const char* kXXTable =
    "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// "begin <mode> <name>", data lines of up to 61 bytes led by their length character, the empty
// data line and "end", each ending in CR LF. Finish once per file.
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
  virtual void WriteHeader(Sink& out);
  void CodeBlock(Sink& out) override;
  void CodeRemainder(Sink& out) override;

 private:
  void EmitDataLine(Sink& out);
  bool send_table_ = false;
  bool header_pending_ = true;
  std::uint32_t file_mode_ = 644;
};

class XXEncoder : public UUEncoder {
 public:
  explicit XXEncoder(BaseComponent* owner = nullptr);
};

// Finds "TABLE"/"BEGIN " (any case), reads the mode and file name, decodes data lines by their
// length character and stops at the empty data line and "END". Header problems go to
// error_list() instead of raising.
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
  void CodeBlock(Sink& out) override;
  void CodeRemainder(Sink& out) override;

 private:
  enum class State { kSeekHeader, kTableLine1, kTableLine2, kExpectBegin, kData, kExpectEnd };
  void SetState(State state);
  void TakeLines(Sink& out, bool final);
  void HandleLine(Sink& out, std::string_view line);
  void HandleBegin(Sink& out, std::string_view rest);
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

}  // namespace tovrel::message
