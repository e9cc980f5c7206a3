#include "message/coders/coder_3to4.h"

#include <algorithm>
#include <cstring>

#include "message/message_error.h"
#include "message/string_helpers.h"
#include "message/texts.h"

namespace tovrel::message {

void Coder3To4::EncodeGroup(unsigned char b1, unsigned char b2, unsigned char b3,
                            std::string& out) const {
  const char* t = coding_table().data();
  out.push_back(t[b1 >> 2]);
  out.push_back(t[((b1 << 4) & 63) | (b2 >> 4)]);
  out.push_back(t[((b2 << 2) & 63) | (b3 >> 6)]);
  out.push_back(t[b3 & 63]);
}

void Coder3To4::DecodeGroup(char c1, char c2, char c3, char c4, std::string& out) const {
  const std::uint32_t v =
      IndexInTable(c1) << 18 | IndexInTable(c2) << 12 | IndexInTable(c3) << 6 | IndexInTable(c4);
  out.push_back(static_cast<char>(v >> 16));
  out.push_back(static_cast<char>((v >> 8) & 255));
  out.push_back(static_cast<char>(v & 255));
}

namespace {

// Appends 4 * ceil(n / 3) table characters for `bytes`; a last group of one or two bytes is
// completed with zero bytes.
void AppendGroups(const char* t, std::string_view bytes, std::string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  const std::size_t start = out.size();
  out.resize(start + 4 * ((n + 2) / 3));
  char* o = out.data() + start;
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3, o += 4) {
    const unsigned b1 = p[i], b2 = p[i + 1], b3 = p[i + 2];
    o[0] = t[b1 >> 2];
    o[1] = t[((b1 << 4) & 63) | (b2 >> 4)];
    o[2] = t[((b2 << 2) & 63) | (b3 >> 6)];
    o[3] = t[b3 & 63];
  }
  if (i < n) {
    const unsigned b1 = p[i];
    const unsigned b2 = i + 1 < n ? p[i + 1] : 0;
    o[0] = t[b1 >> 2];
    o[1] = t[((b1 << 4) & 63) | (b2 >> 4)];
    o[2] = t[(b2 << 2) & 63];
    o[3] = t[0];
  }
}

}  // namespace

void Coder3To4::EncodeGroups(std::string_view bytes, std::string& out) const {
  AppendGroups(coding_table().data(), bytes, out);
}

void Coder3To4::EncodeBlockGroups() {
  scratch_.clear();
  EncodeGroups(held(), scratch_);
  set_block_fill(0);
}

// --- base64 --------------------------------------------------------------------------------------

Base64Encoder::Base64Encoder(BaseComponent* owner) : Coder3To4(owner) {
  SetCodingTable(kBase64Table);
}

void Base64Encoder::SetBlockSize(std::uint32_t size) {
  Coder3To4::SetBlockSize(std::max(size, 3u));
}

void Base64Encoder::CodeBlock() {
  // Code up to the last whole group and carry the rest, so that block borders never show in the
  // output.
  const std::uint32_t fill = block_fill();
  const std::uint32_t whole = fill / 3 * 3;
  AddBytesCoded(whole);
  scratch().clear();
  EncodeGroups(held().substr(0, whole), scratch());
  const std::uint32_t carried = fill - whole;
  std::memmove(block_data(), block_data() + whole, carried);
  set_block_fill(carried);
  EmitData(scratch());
}

void Base64Encoder::CodeRemainder() {
  set_finishing(true);
  const std::uint32_t n = block_fill();
  if (n == 0) return;
  AddBytesCoded(n);
  EncodeFinalGroups();
  std::string& text = scratch();
  if (n % 3 == 1) {
    text[text.size() - 2] = '=';
    text[text.size() - 1] = '=';
  } else if (n % 3 == 2) {
    text[text.size() - 1] = '=';
  }
  EmitData(text);
}

Base64Decoder::Base64Decoder(BaseComponent* owner) : Coder3To4(owner) {
  SetCodingTable(kBase64Table);
}

void Base64Decoder::Restart() {
  Coder3To4::Restart();
  quad_fill_ = 0;
  padding_ = 0;
}

void Base64Decoder::DecodeHeld(bool final) {
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
  if (!out.empty() || final) EmitData(out);
}

void Base64Decoder::CodeBlock() { DecodeHeld(false); }

void Base64Decoder::CodeRemainder() {
  set_finishing(true);
  if (block_fill() == 0 && quad_fill_ == 0) return;
  DecodeHeld(true);
}

std::string EncodeBase64Text(std::string_view text) {
  Base64Encoder encoder;
  encoder.set_append_line_break(false);
  encoder.set_use_events(false);
  encoder.Restart();
  std::string result;
  encoder.FeedTo(text, result);
  encoder.FinishInputTo(result);
  return result;
}

void AppendBase64(std::string_view bytes, std::string& out) {
  AppendGroups(kBase64Table, bytes, out);
  const std::size_t rest = bytes.size() % 3;
  if (rest == 1) out.replace(out.size() - 2, 2, "==");
  if (rest == 2) out.back() = '=';
}

// --- UU and XX -----------------------------------------------------------------------------------

UUEncoder::UUEncoder(BaseComponent* owner) : Coder3To4(owner) {
  SetCodingTable(kUUTable);
  set_append_line_break(true);
  SetBlockSize(61);
}

void UUEncoder::ReplaceTable(std::string_view table) {
  std::string merged = coding_table();
  const std::size_t n = std::min<std::size_t>(table.size(), 64);
  merged.replace(0, n, table.substr(0, n));
  SetCodingTable(merged);
}

void UUEncoder::SetBlockSize(std::uint32_t size) {
  Coder3To4::SetBlockSize(std::clamp(size, 1u, 63u));
}

void UUEncoder::Restart() {
  Coder3To4::Restart();
  header_pending_ = true;
}

void UUEncoder::WriteHeader() {
  if (send_table_) {
    EmitData("TABLE");
    EmitData(std::string_view(coding_table()).substr(0, 32));
    EmitData(std::string_view(coding_table()).substr(32, 32));
  }
  // Lower case: the decoders in use (sharutils, Python) only accept "begin"/"end".
  EmitData("begin " + std::to_string(file_mode_) + " " + file_name());
  header_pending_ = false;
}

void UUEncoder::EmitDataLine(std::uint32_t count) {
  AddBytesCoded(count);
  std::string& line = scratch();
  line.clear();
  line.push_back(coding_table()[count]);
  EncodeGroups(held().substr(0, count), line);
  set_block_fill(0);
  EmitData(line);
}

void UUEncoder::CodeBlock() {
  if (header_pending_) WriteHeader();
  EmitDataLine(block_size());
}

void UUEncoder::CodeRemainder() {
  set_finishing(true);
  if (header_pending_) WriteHeader();
  if (block_fill() > 0) EmitDataLine(block_fill());
  EmitData(std::string_view(coding_table()).substr(0, 1));
  EmitData("end");
}

XXEncoder::XXEncoder(BaseComponent* owner) : UUEncoder(owner) { SetCodingTable(kXXTable); }

namespace {
// Header lines are short: a small block lets notices come out as soon as a line is complete.
constexpr std::uint32_t kHeaderBlockSize = 8;
}  // namespace

UUDecoder::UUDecoder(BaseComponent* owner) : Coder3To4(owner) {
  SetCodingTable(kUUTable);
  SetBlockSize(kHeaderBlockSize);
}

void UUDecoder::SetState(State state) {
  state_ = state;
  const std::uint32_t size = state == State::kData ? kDefaultBlockSize : kHeaderBlockSize;
  ReserveBlock(size);
  set_block_size_only(size);
}

XXDecoder::XXDecoder(BaseComponent* owner) : UUDecoder(owner) { SetCodingTable(kXXTable); }

void UUDecoder::Restart() {
  Coder3To4::Restart();
  SetState(State::kSeekHeader);
  line_buffer_.clear();
  error_ = false;
  completed_ = false;
  error_list_.clear();
}

void UUDecoder::AddError(const char* text) {
  error_ = true;
  error_list_.emplace_back(text);
}

void UUDecoder::CodeBlock() {
  line_buffer_.append(held());
  AddBytesCoded(block_fill());
  set_block_fill(0);
  TakeLines(false);
}

void UUDecoder::CodeRemainder() {
  set_finishing(true);
  line_buffer_.append(held());
  AddBytesCoded(block_fill());
  set_block_fill(0);
  TakeLines(true);
  if (state_ == State::kData || state_ == State::kExpectEnd) {
    AddError(texts::kDataEndedWithoutEnd);
    SetState(State::kSeekHeader);
  }
}

void UUDecoder::TakeLines(bool final) {
  decoded_.clear();
  std::size_t start = 0;
  for (std::size_t lf; (lf = line_buffer_.find('\n', start)) != std::string::npos; start = lf + 1) {
    std::string_view line(line_buffer_.data() + start, lf - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    HandleLine(line);
  }
  line_buffer_.erase(0, start);
  if (final && !line_buffer_.empty()) {
    std::string_view line(line_buffer_);
    if (line.back() == '\r') line.remove_suffix(1);
    HandleLine(line);
    line_buffer_.clear();
  }
  if (!decoded_.empty()) EmitData(decoded_);
}

void UUDecoder::HandleLine(std::string_view line) {
  auto starts_with = [&](std::string_view word) {
    return line.size() >= word.size() && EqualsIgnoreCase(line.substr(0, word.size()), word);
  };
  switch (state_) {
    case State::kSeekHeader:
      if (starts_with("TABLE")) {
        EmitNotice(kNoticeTable, "");
        SetState(State::kTableLine1);
      } else if (starts_with("BEGIN ")) {
        HandleBegin(line.substr(6));
      }
      return;
    case State::kTableLine1:
      table_first_half_ = std::string(line.substr(0, 32));
      SetState(State::kTableLine2);
      return;
    case State::kTableLine2:
      ReplaceTable(table_first_half_ + std::string(line.substr(0, 32)));
      SetState(State::kExpectBegin);
      return;
    case State::kExpectBegin:
      if (starts_with("BEGIN ")) {
        HandleBegin(line.substr(6));
      } else {
        AddError(texts::kNoBeginAfterTable);
        EmitNotice(kNoticeNoBegin, "");
        SetState(State::kSeekHeader);
      }
      return;
    case State::kData:
      if (line.empty()) return;
      if (IndexInTable(line[0]) == 0) {
        EmitNotice(kNoticeEmptyLine, "");
        SetState(State::kExpectEnd);
      } else {
        DecodeDataLine(line);
      }
      return;
    case State::kExpectEnd:
      if (starts_with("END")) {
        EmitNotice(kNoticeEnd, "");
        completed_ = true;
      } else {
        AddError(texts::kDataEndedWithoutEnd);
      }
      SetState(State::kSeekHeader);
      return;
  }
}

void UUDecoder::HandleBegin(std::string_view rest) {
  EmitNotice(kNoticeBegin, "");
  const std::size_t space = rest.find(' ');
  const std::string_view mode = rest.substr(0, space);
  const std::string_view name = space == std::string_view::npos ? "" : rest.substr(space + 1);
  const bool numeric = !mode.empty() && std::all_of(mode.begin(), mode.end(),
                                                    [](char c) { return c >= '0' && c <= '9'; });
  if (!numeric) {
    AddError(texts::kPrivilegeNotNumeric);
    EmitNotice(kNoticeBadFileMode, "");
  } else if (mode.size() < 3) {
    AddError(texts::kPrivilegeTooShort);
    EmitNotice(kNoticeBadFileMode, "");
  } else if (mode.size() > 3) {
    AddError(texts::kPrivilegeTooLong);
    EmitNotice(kNoticeBadFileMode, "");
  } else {
    file_mode_ = static_cast<std::uint32_t>(std::stoul(std::string(mode)));
    EmitNotice(kNoticeFileMode, std::to_string(file_mode_));
  }
  EmitNotice(kNoticeFileName, name);
  set_file_name(std::string(name));
  SetState(State::kData);
}

void UUDecoder::DecodeDataLine(std::string_view line) {
  const std::uint32_t count = IndexInTable(line[0]);
  const std::size_t before = decoded_.size();
  const char zero = coding_table()[0];
  auto at = [&](std::size_t i) { return i < line.size() ? line[i] : zero; };
  // Missing characters at the end of a short line count as zero values.
  for (std::size_t i = 1; decoded_.size() - before < count; i += 4) {
    DecodeGroup(at(i), at(i + 1), at(i + 2), at(i + 3), decoded_);
  }
  decoded_.resize(before + count);
}

}  // namespace tovrel::message
