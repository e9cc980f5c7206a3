#include "message/coders/coder.h"

#include <algorithm>
#include <cstring>

#include "message/message_error.h"

namespace tovrel::message {

// The queued interface's destination: the entry queue, or the events when use_events is set.
class Coder::QueueSink final : public Coder::Sink {
 public:
  explicit QueueSink(Coder& coder) : coder_(coder) {}

  void Data(std::string_view text, bool line_break) override {
    if (coder_.use_events_) {
      if (!coder_.on_coded_text_) return;
      if (!line_break) {
        coder_.on_coded_text_(coder_, text);
      } else {
        std::string line;
        line.reserve(text.size() + 2);
        line.append(text).append("\r\n");
        coder_.on_coded_text_(coder_, line);
      }
      return;
    }
    // Data entries that follow each other are merged anyway when taken; merging them here saves
    // an allocation per entry.
    std::deque<Entry>& entries = coder_.entries_;
    Entry* last = entries.empty() ? nullptr : &entries.back();
    if (last == nullptr || !last->data) {
      last = &entries.emplace_back(Entry{true, "0;"});
      last->text.reserve(2 + text.size() + 2);
    }
    last->text.append(text);
    if (line_break) last->text.append("\r\n");
  }

  void Notice(int number, std::string_view text) override {
    if (coder_.use_events_) {
      if (coder_.on_notice_) coder_.on_notice_(coder_, number, text);
      return;
    }
    std::string entry = std::to_string(number);
    entry.push_back(';');
    entry.append(text);
    coder_.entries_.push_back(Entry{false, std::move(entry)});
  }

 private:
  Coder& coder_;
};

// The streaming interface's destination: data goes to the caller's buffer, notices are queued.
class Coder::StringSink final : public Coder::Sink {
 public:
  StringSink(Coder& coder, std::string& out) : coder_(coder), out_(out) {
    if (!coder.entries_.empty()) coder.MoveQueuedDataTo(out);
  }

  void Data(std::string_view text, bool line_break) override {
    out_.append(text);
    if (line_break) out_.append("\r\n");
  }
  void Notice(int number, std::string_view text) override {
    QueueSink(coder_).Notice(number, text);
  }
  std::string* Text() override { return &out_; }

 private:
  Coder& coder_;
  std::string& out_;
};

Coder::Coder(BaseComponent* owner) : BaseComponent(owner), block_(kDefaultBlockSize, '\0') {}

void Coder::ReserveBlock(std::uint32_t size) {
  if (block_.size() < size) block_.resize(size);
}

void Coder::Code(std::string_view text, Sink& out) {
  bytes_fed_ += text.size();
  while (!text.empty()) {
    const std::size_t free = block_size_ - block_fill_;
    if (text.size() < free) {
      std::memcpy(block_.data() + block_fill_, text.data(), text.size());
      block_fill_ += static_cast<std::uint32_t>(text.size());
      break;
    }
    std::memcpy(block_.data() + block_fill_, text.data(), free);
    text.remove_prefix(free);
    block_fill_ = block_size_;
    CodeBlock(out);
  }
  if (auto_finish_) Finish(out);
}

void Coder::Finish(Sink& out) {
  finishing_ = true;
  CodeRemainder(out);
}

void Coder::MoveQueuedDataTo(std::string& out) {
  while (!entries_.empty() && entries_.front().data) {
    out.append(std::string_view(entries_.front().text).substr(2));
    entries_.pop_front();
  }
}

void Coder::Feed(std::string_view text, std::string& out) {
  StringSink sink(*this, out);
  Code(text, sink);
}

void Coder::FinishInput(std::string& out) {
  StringSink sink(*this, out);
  Finish(sink);
}

void Coder::FeedEachFinished(std::string_view text, std::size_t piece, std::string& out) {
  if (piece == 0 || text.empty()) return;
  if (!entries_.empty()) MoveQueuedDataTo(out);
  if (block_fill_ == 0 && !auto_finish_ && CodeFinishedPieces(text, piece, out)) {
    bytes_fed_ += text.size();
    finishing_ = true;
    return;
  }
  for (std::size_t at = 0; at < text.size(); at += piece) {
    Feed(text.substr(at, piece), out);
    FinishInput(out);
  }
}

bool Coder::CodeFinishedPieces(std::string_view, std::size_t, std::string&) { return false; }

std::string Coder::Feed(std::string_view text) {
  QueueSink queue(*this);
  Code(text, queue);
  return TakeOutput();
}

std::string Coder::FinishInput() {
  QueueSink queue(*this);
  Finish(queue);
  return TakeOutput();
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

void Coder::CodeBlock(Sink& out) {
  EmitData(out, std::string_view(block_.data(), block_size_));
  block_fill_ = 0;
}

void Coder::CodeRemainder(Sink& out) {
  EmitData(out, std::string_view(block_.data(), block_fill_));
  block_fill_ = 0;
}

void Coder::EmitData(Sink& out, std::string_view text) {
  bytes_emitted_ += text.size() + (append_line_break_ ? 2 : 0);
  out.Data(text, append_line_break_);
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
  TableSet();
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
