#include "message/message_error.h"

#include "message/string_helpers.h"

namespace tovrel::message {

AssignError::AssignError(const std::string& source_class, const std::string& target_class)
    : MessageError(FormatText(texts::kCannotAssign, {source_class, target_class})) {}

InvalidDomain::InvalidDomain(const std::string& address, const std::string& reason)
    : MessageError(FormatText(texts::kInvalidDomain, {address, reason})) {}

DomainConverterMissing::DomainConverterMissing(const std::string& address,
                                               const std::string& loader_message)
    : InvalidDomain(FormatText(texts::kDomainConverterMissing, {address, loader_message})) {}

}  // namespace tovrel::message
