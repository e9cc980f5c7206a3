#include "message/message_part.h"

#include <typeinfo>

#include "message/message_error.h"

namespace tovrel::message {

void MessagePart::CheckSameClass(const MessagePart& source) const {
  if (typeid(source) != typeid(*this)) throw AssignError(source.ClassName(), ClassName());
}

void MessagePart::AssignBase(const MessagePart& source) {
  set_content_transfer(source.content_transfer());
  set_content_type(source.content_type());
  extra_headers_.Assign(source.extra_headers_);
}

void MessagePart::Assign(const MessagePart& source) {
  CheckSameClass(source);
  AssignBase(source);
}

TextPart::TextPart(MessageParts& collection, const StringList* body) : MessagePart(collection) {
  if (body != nullptr) body_ = *body;
}

void TextPart::Assign(const MessagePart& source) {
  CheckSameClass(source);
  AssignBase(source);
  body_ = static_cast<const TextPart&>(source).body_;
}

Attachment::Attachment(MessageParts& collection, std::string file_name)
    : MessagePart(collection), file_name_(std::move(file_name)) {}

void Attachment::Assign(const MessagePart& source) {
  CheckSameClass(source);
  AssignBase(source);
  const auto& other = static_cast<const Attachment&>(source);
  set_content_disposition(other.content_disposition());
  file_name_ = other.file_name_;
  look_ = other.look_;
}

TextPart& MessageParts::AddTextPart(const StringList* body) {
  auto part = std::make_unique<TextPart>(*this, body);
  TextPart& ref = *part;
  items_.push_back(std::move(part));
  return ref;
}

Attachment& MessageParts::AddAttachment(std::string file_name) {
  auto part = std::make_unique<Attachment>(*this, std::move(file_name));
  Attachment& ref = *part;
  items_.push_back(std::move(part));
  return ref;
}

MessagePart& MessageParts::AddPart(std::string_view class_name) {
  if (class_name == "TextPart") return AddTextPart();
  if (class_name == "Attachment") return AddAttachment({});
  throw CanNotCreateMessagePart();
}

void MessageParts::Delete(std::size_t i) {
  if (i < items_.size()) items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
}

}  // namespace tovrel::message
