#include "message/coders/uu_xx.h"

#include <algorithm>

#include "message/message_error.h"
#include "message/string_helpers.h"
#include "message/texts.h"

namespace tovrel::message {

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

void UUEncoder::WriteHeader(Sink& out) {
  if (send_table_) {
    EmitData(out, "TABLE");
    EmitData(out, std::string_view(coding_table()).substr(0, 32));
    EmitData(out, std::string_view(coding_table()).substr(32, 32));
  }
  // Lower case: the decoders in use (sharutils, Python) only accept "begin"/"end".
  EmitData(out, "begin " + std::to_string(file_mode_) + " " + file_name());
  header_pending_ = false;
}

void UUEncoder::EmitDataLine(Sink& out) {
  const std::uint32_t count = block_fill();
  AddBytesCoded(count);
  std::string& line = scratch();
  line.clear();
  line.push_back(coding_table()[count]);
  EncodeBlockGroups(line);
  EmitData(out, line);
}

void UUEncoder::CodeBlock(Sink& out) {
  if (header_pending_) WriteHeader(out);
  EmitDataLine(out);
}

void UUEncoder::CodeRemainder(Sink& out) {
  set_finishing(true);
  if (header_pending_) WriteHeader(out);
  if (block_fill() > 0) EmitDataLine(out);
  EmitData(out, std::string_view(coding_table()).substr(0, 1));
  EmitData(out, "end");
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

void UUDecoder::CodeBlock(Sink& out) {
  line_buffer_.append(held());
  AddBytesCoded(block_fill());
  set_block_fill(0);
  TakeLines(out, false);
}

void UUDecoder::CodeRemainder(Sink& out) {
  set_finishing(true);
  line_buffer_.append(held());
  AddBytesCoded(block_fill());
  set_block_fill(0);
  TakeLines(out, true);
  if (state_ == State::kData || state_ == State::kExpectEnd) {
    AddError(texts::kDataEndedWithoutEnd);
    SetState(State::kSeekHeader);
  }
}

void UUDecoder::TakeLines(Sink& out, bool final) {
  decoded_.clear();
  std::size_t start = 0;
  for (std::size_t lf; (lf = line_buffer_.find('\n', start)) != std::string::npos; start = lf + 1) {
    std::string_view line(line_buffer_.data() + start, lf - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    HandleLine(out, line);
  }
  line_buffer_.erase(0, start);
  if (final && !line_buffer_.empty()) {
    std::string_view line(line_buffer_);
    if (line.back() == '\r') line.remove_suffix(1);
    HandleLine(out, line);
    line_buffer_.clear();
  }
  if (!decoded_.empty()) EmitData(out, decoded_);
}

void UUDecoder::HandleLine(Sink& out, std::string_view line) {
  auto starts_with = [&](std::string_view word) {
    return line.size() >= word.size() && EqualsIgnoreCase(line.substr(0, word.size()), word);
  };
  switch (state_) {
    case State::kSeekHeader:
      if (starts_with("TABLE")) {
        EmitNotice(out, kNoticeTable, "");
        SetState(State::kTableLine1);
      } else if (starts_with("BEGIN ")) {
        HandleBegin(out, line.substr(6));
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
        HandleBegin(out, line.substr(6));
      } else {
        AddError(texts::kNoBeginAfterTable);
        EmitNotice(out, kNoticeNoBegin, "");
        SetState(State::kSeekHeader);
      }
      return;
    case State::kData:
      if (line.empty()) return;
      if (IndexInTable(line[0]) == 0) {
        EmitNotice(out, kNoticeEmptyLine, "");
        SetState(State::kExpectEnd);
      } else {
        DecodeDataLine(line);
      }
      return;
    case State::kExpectEnd:
      if (starts_with("END")) {
        EmitNotice(out, kNoticeEnd, "");
        completed_ = true;
      } else {
        AddError(texts::kDataEndedWithoutEnd);
      }
      SetState(State::kSeekHeader);
      return;
  }
}

void UUDecoder::HandleBegin(Sink& out, std::string_view rest) {
  EmitNotice(out, kNoticeBegin, "");
  const std::size_t space = rest.find(' ');
  const std::string_view mode = rest.substr(0, space);
  const std::string_view name = space == std::string_view::npos ? "" : rest.substr(space + 1);
  const bool numeric = !mode.empty() && std::all_of(mode.begin(), mode.end(),
                                                    [](char c) { return c >= '0' && c <= '9'; });
  if (!numeric) {
    AddError(texts::kPrivilegeNotNumeric);
    EmitNotice(out, kNoticeBadFileMode, "");
  } else if (mode.size() < 3) {
    AddError(texts::kPrivilegeTooShort);
    EmitNotice(out, kNoticeBadFileMode, "");
  } else if (mode.size() > 3) {
    AddError(texts::kPrivilegeTooLong);
    EmitNotice(out, kNoticeBadFileMode, "");
  } else {
    file_mode_ = static_cast<std::uint32_t>(std::stoul(std::string(mode)));
    EmitNotice(out, kNoticeFileMode, std::to_string(file_mode_));
  }
  EmitNotice(out, kNoticeFileName, name);
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
