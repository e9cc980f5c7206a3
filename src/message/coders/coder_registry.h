#pragma once

// The process-wide coder registry: which coder class handles which content type and transfer
// encoding, in either direction. The message writer looks up its encoder here by the part's
// Content-Type and Content-Transfer-Encoding; an unknown encoding falls back to pass-through.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "message/coders/coder.h"

namespace tovrel::message {

enum class CoderDirection : std::uint8_t { kEncoder = 0, kDecoder = 128 };

struct CoderItem {
  using Factory = std::function<std::unique_ptr<Coder>()>;

  CoderDirection direction = CoderDirection::kEncoder;
  std::string content_type;
  std::string transfer_encoding;
  Factory coder_class;  // makes a fresh coder of the registered class, with no owner
  std::string class_name;

  std::unique_ptr<Coder> CreateCoder() const { return coder_class(); }
};

class CoderCollection {
 public:
  std::size_t count() const { return items_.size(); }
  const CoderItem& operator[](std::size_t i) const { return items_[i]; }

  void AddCoderClass(std::string class_name, CoderItem::Factory factory, CoderDirection direction,
                     std::string content_type, std::string transfer_encoding);
  // First row whose direction matches and whose content type and transfer encoding both equal
  // the given ones, ignoring case; nullptr when none does.
  const CoderItem* FindExactCoder(std::string_view content_type, std::string_view transfer_encoding,
                                  CoderDirection direction) const;
  // Exact match, else by transfer encoding alone, else (no transfer encoding) by content type
  // alone, else the pass-through row.
  const CoderItem* FindCoder(std::string_view content_type, std::string_view transfer_encoding,
                             CoderDirection direction) const;

 private:
  std::vector<CoderItem> items_;
};

// The registry, filled with every coder of the program on first use (thread-safe) and never
// changed afterwards.
const CoderCollection& CoderRegistry();

// CoderRegistry().FindCoder(...).
const CoderItem* FindCoder(std::string_view content_type, std::string_view transfer_encoding,
                           CoderDirection direction);

}  // namespace tovrel::message
