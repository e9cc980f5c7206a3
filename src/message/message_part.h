#pragma once

// The parts of a MIME message: text alternatives (TextPart) and file attachments (Attachment),
// kept in the message's ordered MessageParts collection, which owns them. The writer emits the
// parts in collection order; each part says what it is (AsText, AsAttachment).

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "message/header_list.h"
#include "message/input_file.h"
#include "message/string_list.h"

namespace tovrel::message {

class MessageParts;
class TextPart;
class Attachment;

// Abstract part. Content-Type and Content-Transfer-Encoding live in PartHeaders, so they fold and
// read back like any header; setting an empty text removes the header.
class MessagePart {
 public:
  virtual ~MessagePart() = default;
  MessagePart(const MessagePart&) = delete;
  MessagePart& operator=(const MessagePart&) = delete;

  // "TextPart" or "Attachment"; used in the assignment error text.
  virtual std::string ClassName() const = 0;
  // Copies from a part of exactly the same kind; any other kind raises AssignError.
  virtual void Assign(const MessagePart& source);
  // The part itself when it is of that kind, else null.
  virtual const TextPart* AsText() const { return nullptr; }
  virtual const Attachment* AsAttachment() const { return nullptr; }

  std::string content_type() const { return part_headers_.ValueOf("Content-Type"); }
  void set_content_type(std::string_view value) { part_headers_.SetHeader("Content-Type", value); }
  std::string content_transfer() const {
    return part_headers_.ValueOf("Content-Transfer-Encoding");
  }
  void set_content_transfer(std::string_view value) {
    part_headers_.SetHeader("Content-Transfer-Encoding", value);
  }

  // Lines written after the part's standard header lines; set_extra_headers copies.
  HeaderList& extra_headers() { return extra_headers_; }
  const HeaderList& extra_headers() const { return extra_headers_; }
  void set_extra_headers(const HeaderList& headers) { extra_headers_.Assign(headers); }
  HeaderList& part_headers() { return part_headers_; }
  const HeaderList& part_headers() const { return part_headers_; }

  MessageParts& collection() const { return *collection_; }

 protected:
  explicit MessagePart(MessageParts& collection) : collection_(&collection) {}
  // Raises AssignError unless `source` is of the same kind as this part.
  void CheckSameClass(const MessagePart& source) const;
  void AssignBase(const MessagePart& source);

 private:
  MessageParts* collection_;
  HeaderList part_headers_;
  HeaderList extra_headers_;
};

class TextPart : public MessagePart {
 public:
  explicit TextPart(MessageParts& collection, const StringList* body = nullptr);
  std::string ClassName() const override { return "TextPart"; }
  void Assign(const MessagePart& source) override;
  const TextPart* AsText() const override { return this; }

  StringList& body() { return body_; }
  const StringList& body() const { return body_; }
  void set_body(const StringList& lines) { body_ = lines; }

 private:
  StringList body_;
};

class Attachment : public MessagePart {
 public:
  Attachment(MessageParts& collection, std::string file_name);
  std::string ClassName() const override { return "Attachment"; }
  void Assign(const MessagePart& source) override;
  const Attachment* AsAttachment() const override { return this; }

  // The path of the file to attach, as the caller gave it.
  const std::string& file_name() const { return file_name_; }
  void set_file_name(std::string path) {
    file_name_ = std::move(path);
    look_.reset();
  }
  // What the caller found at the path when it took the file, if it looked: the send takes the
  // file's kind and size from it instead of asking the system again before opening the file,
  // which checks what it opened anew. A thousand attachments otherwise cost thousands of lookups.
  const std::optional<PathLook>& look() const { return look_; }
  void set_look(const PathLook& look) { look_ = look; }
  std::string content_disposition() const { return part_headers().ValueOf("Content-Disposition"); }
  void set_content_disposition(std::string_view value) {
    part_headers().SetHeader("Content-Disposition", value);
  }
  // The temporary file that holds the encoded content while the writer writes the part.
  const std::string& spool_file_name() const { return spool_file_name_; }
  void set_spool_file_name(std::string path) { spool_file_name_ = std::move(path); }

 private:
  std::string file_name_;
  std::optional<PathLook> look_;
  std::string spool_file_name_;
};

// The message's ordered, owning list of parts.
class MessageParts {
 public:
  MessageParts() = default;
  MessageParts(const MessageParts&) = delete;
  MessageParts& operator=(const MessageParts&) = delete;

  std::size_t count() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  MessagePart& operator[](std::size_t i) { return *items_[i]; }
  const MessagePart& operator[](std::size_t i) const { return *items_[i]; }

  TextPart& AddTextPart(const StringList* body = nullptr);
  Attachment& AddAttachment(std::string file_name);
  // Creates a part from its class name ("TextPart" or "Attachment", as stored names would give
  // it). Any other name, "MessagePart" included, raises CanNotCreateMessagePart and adds nothing.
  MessagePart& AddPart(std::string_view class_name);

  void Delete(std::size_t i);
  void Clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<MessagePart>> items_;
};

}  // namespace tovrel::message
