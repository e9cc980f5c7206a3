#include "message/coders/coder.h"

#include <algorithm>
#include <cstring>

#include "message/message_error.h"

namespace tovrel::message {

// Points EmitData at a caller's buffer for the length of one call, also when coding throws.
class Coder::SinkScope {
 public:
  SinkScope(Coder& coder, std::string& out) : coder_(coder) { coder_.sink_ = &out; }
  ~SinkScope() { coder_.sink_ = nullptr; }
  SinkScope(const SinkScope&) = delete;
  SinkScope& operator=(const SinkScope&) = delete;

 private:
  Coder& coder_;
};

Coder::Coder(BaseComponent* owner) : BaseComponent(owner), block_(kDefaultBlockSize, '\0') {}

void Coder::ReserveBlock(std::uint32_t size) {
  if (block_.size() < size) block_.resize(size);
}

void Coder::FeedBytes(std::string_view text) {
  bytes_fed_ += text.size();
  while (!text.empty()) {
    const std::size_t free = block_size_ - block_fill_;
    if (text.size() < free) {
      std::memcpy(block_.data() + block_fill_, text.data(), text.size());
      block_fill_ += static_cast<std::uint32_t>(text.size());
      return;
    }
    std::memcpy(block_.data() + block_fill_, text.data(), free);
    text.remove_prefix(free);
    block_fill_ = block_size_;
    CodeBlock();
  }
}

std::string Coder::Feed(std::string_view text) {
  FeedBytes(text);
  return auto_finish_ ? FinishInput() : TakeOutput();
}

std::string Coder::FinishInput() {
  finishing_ = true;
  CodeRemainder();
  return TakeOutput();
}

void Coder::MoveQueuedDataTo(std::string& out) {
  while (!entries_.empty() && entries_.front().data) {
    out.append(std::string_view(entries_.front().text).substr(2));
    entries_.pop_front();
  }
}

void Coder::FeedTo(std::string_view text, std::string& out) {
  MoveQueuedDataTo(out);
  SinkScope scope(*this, out);
  FeedBytes(text);
  if (auto_finish_) {
    finishing_ = true;
    CodeRemainder();
  }
}

void Coder::FinishInputTo(std::string& out) {
  MoveQueuedDataTo(out);
  SinkScope scope(*this, out);
  finishing_ = true;
  CodeRemainder();
}

std::string Coder::TakeOutput() {
  if (discard_notices_ && discard_data_) {
    entries_.clear();
    return {};
  }
  if (entries_.empty()) return {};
  std::string result = std::move(entries_.front().text);
  entries_.pop_front();
  return result;
}

void Coder::Restart() {
  ReserveBlock(block_size_);
  block_fill_ = 0;
  finishing_ = false;
  entries_.clear();
}

void Coder::SetBlockSize(std::uint32_t size) {
  ReserveBlock(size);
  block_size_ = size;
  block_fill_ = 0;
}

void Coder::CodeBlock() {
  EmitData(std::string_view(block_.data(), block_size_));
  block_fill_ = 0;
}

void Coder::CodeRemainder() {
  EmitData(std::string_view(block_.data(), block_fill_));
  block_fill_ = 0;
}

void Coder::EmitData(std::string_view text) {
  const std::size_t length = text.size() + (append_line_break_ ? 2 : 0);
  bytes_emitted_ += length;
  if (use_events_) {
    if (!on_coded_text_) return;
    if (append_line_break_) {
      std::string line;
      line.reserve(length);
      line.append(text).append("\r\n");
      on_coded_text_(*this, line);
    } else {
      on_coded_text_(*this, text);
    }
    return;
  }
  std::string* target = sink_;
  if (target == nullptr) {
    // Data entries that follow each other are merged anyway when taken; merging them here saves
    // an allocation per entry.
    if (entries_.empty() || !entries_.back().data) {
      entries_.push_back(Entry{true, "0;"});
      entries_.back().text.reserve(length + 2);
    }
    target = &entries_.back().text;
  }
  target->append(text);
  if (append_line_break_) target->append("\r\n");
}

void Coder::EmitNotice(int number, std::string_view text) {
  if (use_events_) {
    if (on_notice_) on_notice_(*this, number, text);
    return;
  }
  std::string entry = std::to_string(number);
  entry.push_back(';');
  entry.append(text);
  entries_.push_back(Entry{false, std::move(entry)});
}

AsciiCoder::AsciiCoder(BaseComponent* owner, std::uint32_t table_length)
    : Coder(owner), table_length_(table_length) {
  set_takes_file_name(true);
  coding_table_.assign(table_length_, '\0');
  std::fill(std::begin(reverse_), std::end(reverse_), static_cast<short>(-1));
}

void AsciiCoder::SetCodingTable(std::string_view table) {
  coding_table_ = std::string(table);
  std::fill(std::begin(reverse_), std::end(reverse_), static_cast<short>(-1));
  for (std::size_t i = coding_table_.size(); i-- > 0;) {
    reverse_[static_cast<unsigned char>(coding_table_[i])] = static_cast<short>(i);
  }
}

std::uint32_t AsciiCoder::IndexInTable(char c) const {
  const short index = reverse_[static_cast<unsigned char>(c)];
  if (index < 0) throw TableNotFound();
  return static_cast<std::uint32_t>(index);
}

void AsciiCoder::ReplaceTable(std::string_view table) { SetCodingTable(table); }

std::string CutLine(std::string& text) {
  const std::size_t r = text.find('\r');
  const std::size_t n = text.find('\n');
  if (r == std::string::npos && n == std::string::npos) {
    std::string line = std::move(text);
    text.clear();
    return line;
  }
  std::size_t at;
  std::size_t delimiter_length = 1;
  if (r != std::string::npos && n == r + 1) {
    at = r;
    delimiter_length = 2;
  } else if (r == std::string::npos || (n != std::string::npos && n < r)) {
    at = n;
  } else {
    at = r;
  }
  std::string line = text.substr(0, at);
  text.erase(0, at + delimiter_length);
  return line;
}

}  // namespace tovrel::message
