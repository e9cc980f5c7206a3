#pragma once

// The coder framework: every content transformation of message text (base64, quoted-printable,
// UU, XX and plain pass-through) is a Coder. A coder takes input in pieces of any size, collects
// it in a fixed-size block, codes each full block at once and the rest when the input is declared
// complete.
//
// A concrete coder implements only the two coding steps, CodeBlock and CodeRemainder, which
// write to a Sink. Callers drive it in one of two ways, both built here on those steps:
//   - streaming: Feed(piece, out) / FinishInput(out) append the coded text to the caller's
//     buffer, with nothing around it (the hot paths use this);
//   - queued: Feed(piece) / FinishInput() / TakeOutput() hand out entries "0;<data>" or
//     "<notice number>;<text>", or pass them to the events when use_events is set.

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "message/base_component.h"
#include "message/string_list.h"

namespace tovrel::message {

class Coder : public BaseComponent {
 public:
  using CodedTextEvent = std::function<void(Coder& sender, std::string_view text)>;
  using IntStringEvent = std::function<void(Coder& sender, int value, std::string_view text)>;

  static constexpr std::uint32_t kDefaultBlockSize = 4096;

  explicit Coder(BaseComponent* owner = nullptr);

  // Takes input and appends the coded data to `out` (with auto_finish, the finished input).
  // Data still queued is moved to `out` first so that the order holds; notices are queued.
  void Feed(std::string_view text, std::string& out);
  // Declares the input complete and appends the coded rest to `out`.
  void FinishInput(std::string& out);
  // Feeds `text` in pieces of `piece` bytes (the last may be shorter) and finishes the input
  // after each: the same output as Feed(piece, out) and FinishInput(out) for each piece, which is
  // how attachment lines are made, but a coder may make all the pieces in one go.
  void FeedEachFinished(std::string_view text, std::size_t piece, std::string& out);

  // Like Feed(text, out), but the output is queued (or handed to the events with use_events);
  // returns TakeOutput() (with auto_finish, what FinishInput() returns).
  std::string Feed(std::string_view text);
  // Declares the input complete, codes the rest and returns the next output entry.
  std::string FinishInput();
  // The next output entry; consecutive data entries are merged into one "0;..." entry, a notice
  // is returned alone.
  std::string TakeOutput();
  // Back to an empty block and an empty queue; flags, counters and names stay.
  virtual void Restart();
  virtual void AssignKey(std::string_view key) { key_ = std::string(key); }
  // Held bytes are discarded; the block storage only grows.
  virtual void SetBlockSize(std::uint32_t size);

  bool append_line_break() const { return append_line_break_; }
  void set_append_line_break(bool on) { append_line_break_ = on; }
  bool auto_finish() const { return auto_finish_; }
  void set_auto_finish(bool on) { auto_finish_ = on; }
  bool discard_data() const { return discard_data_; }
  void set_discard_data(bool on) { discard_data_ = on; }
  bool discard_notices() const { return discard_notices_; }
  void set_discard_notices(bool on) { discard_notices_ = on; }
  bool use_events() const { return use_events_; }
  void set_use_events(bool on) { use_events_ = on; }
  bool finishing() const { return finishing_; }
  bool takes_file_name() const { return takes_file_name_; }
  bool takes_key() const { return takes_key_; }
  const std::string& file_name() const { return file_name_; }
  void set_file_name(std::string name) { file_name_ = std::move(name); }
  const std::string& key() const { return key_; }
  std::uint32_t block_size() const { return block_size_; }
  std::uint32_t block_fill() const { return block_fill_; }
  std::uint64_t bytes_coded() const { return bytes_coded_; }
  std::uint64_t bytes_fed() const { return bytes_fed_; }
  std::uint64_t bytes_emitted() const { return bytes_emitted_; }
  void set_on_coded_text(CodedTextEvent handler) { on_coded_text_ = std::move(handler); }
  void set_on_notice(IntStringEvent handler) { on_notice_ = std::move(handler); }

 protected:
  // Where the coding steps put their output, in the order they make it.
  class Sink {
   public:
    // One data entry: `text`, followed by CR LF when `line_break` is set.
    virtual void Data(std::string_view text, bool line_break) = 0;
    virtual void Notice(int number, std::string_view text) = 0;
    // The caller's buffer that data entries are appended to, where a coder may write them
    // itself (with AddBytesEmitted); null when entries are queued or handed to events.
    virtual std::string* Text() { return nullptr; }

   protected:
    ~Sink() = default;
  };

  // Codes a full block (block_fill() == block_size()). The pass-through coder emits it unchanged.
  virtual void CodeBlock(Sink& out);
  // Codes what is held at the end of input. The pass-through coder emits it, even when empty.
  virtual void CodeRemainder(Sink& out);
  // FeedEachFinished's work straight into `out`, for a coder that holds nothing; false when this
  // coder leaves it to the piece-by-piece way.
  virtual bool CodeFinishedPieces(std::string_view text, std::size_t piece, std::string& out);

  void EmitData(Sink& out, std::string_view text);
  void EmitNotice(Sink& out, int number, std::string_view text) { out.Notice(number, text); }

  char* block_data() { return block_.data(); }
  // The bytes that block_data() may be read at, the held ones and more.
  std::size_t block_storage() const { return block_.size(); }
  std::string_view held() const { return std::string_view(block_.data(), block_fill_); }
  void set_block_fill(std::uint32_t fill) { block_fill_ = fill; }
  // Makes the storage hold at least `size` bytes without touching what it holds.
  void ReserveBlock(std::uint32_t size);
  void set_block_size_only(std::uint32_t size) { block_size_ = size; }
  void set_finishing(bool on) { finishing_ = on; }
  void set_takes_file_name(bool on) { takes_file_name_ = on; }
  void AddBytesCoded(std::uint64_t count) { bytes_coded_ += count; }
  void AddBytesEmitted(std::uint64_t count) { bytes_emitted_ += count; }

 private:
  class QueueSink;
  class StringSink;

  // The two driving steps both interfaces share.
  void Code(std::string_view text, Sink& out);
  void Finish(Sink& out);
  // Hands data the queued interface left behind to a streaming caller, so that the order holds.
  void MoveQueuedDataTo(std::string& out);

  // Each entry carries its "N;" prefix already, so a data entry is handed out without a copy.
  struct Entry {
    bool data;
    std::string text;
  };

  bool append_line_break_ = false;
  bool auto_finish_ = false;
  bool discard_data_ = false;
  bool discard_notices_ = false;
  bool finishing_ = false;
  bool takes_file_name_ = false;
  bool takes_key_ = false;
  bool use_events_ = false;
  std::uint64_t bytes_coded_ = 0;
  std::uint64_t bytes_fed_ = 0;
  std::uint64_t bytes_emitted_ = 0;
  std::uint32_t block_size_ = kDefaultBlockSize;
  std::uint32_t block_fill_ = 0;
  std::string block_;
  std::string file_name_;
  std::string key_;
  std::deque<Entry> entries_;
  CodedTextEvent on_coded_text_;
  IntStringEvent on_notice_;
};

// A coder with a table that maps values 0..TableLength-1 to characters.
class AsciiCoder : public Coder {
 public:
  AsciiCoder(BaseComponent* owner, std::uint32_t table_length);

  const std::string& coding_table() const { return coding_table_; }
  std::uint32_t table_length() const { return table_length_; }
  // Place of `c` in the table; raises TableNotFound for a character outside it.
  std::uint32_t IndexInTable(char c) const;
  virtual void ReplaceTable(std::string_view table);

 protected:
  // Sets the table and the reverse lookup behind IndexInTable.
  void SetCodingTable(std::string_view table);
  // Called whenever the table was set.
  virtual void TableSet() {}

 private:
  std::uint32_t table_length_;
  std::string coding_table_;
  short reverse_[256];
};

// Removes the first line (ended by CR LF, LF or CR) from `text` and returns it without its end.
std::string CutLine(std::string& text);

}  // namespace tovrel::message
