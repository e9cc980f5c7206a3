#pragma once

// Exceptions raised while a message is built, encoded or dated. All of them derive from NetError,
// so one catch covers "the mail could not be built or delivered".

#include <string>

#include "message/net_error.h"
#include "message/texts.h"

namespace tovrel::message {

// Base of the failures that concern the message itself rather than the connection.
class MessageError : public NetError {
 public:
  using NetError::NetError;
};

class CanNotCreateMessagePart : public MessageError {
 public:
  CanNotCreateMessagePart() : MessageError(texts::kCanNotCreateMessagePart) {}
};

// Raised by the message writer when exactly one text part is present.
class TextInvalidCount : public MessageError {
 public:
  TextInvalidCount() : MessageError(texts::kTextInvalidCount) {}
};

// Copying between parts of different kinds.
class AssignError : public MessageError {
 public:
  AssignError(const std::string& source_class, const std::string& target_class);
};

class FailedToRetrieveTimeZoneInfo : public NetError {
 public:
  FailedToRetrieveTimeZoneInfo() : NetError(texts::kFailedToRetrieveTimeZoneInfo) {}
};

// A decoder met a character outside its coding table.
class TableNotFound : public NetError {
 public:
  TableNotFound() : NetError(texts::kCodingTableEntryNotFound) {}
};

// An address whose domain has no ASCII form that servers would take.
class InvalidDomain : public MessageError {
 public:
  InvalidDomain(const std::string& address, const std::string& reason);

 protected:
  explicit InvalidDomain(const std::string& text) : MessageError(text) {}
};

// The library that converts international domains could not be loaded, so the address has no
// ASCII form to send.
class DomainConverterMissing : public InvalidDomain {
 public:
  DomainConverterMissing(const std::string& address, const std::string& loader_message);
};

// A file the message layer needed (a spool file) could not be created or opened.
class FileError : public MessageError {
 public:
  using MessageError::MessageError;
};

}  // namespace tovrel::message
