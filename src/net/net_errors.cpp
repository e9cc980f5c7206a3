#include "net/net_errors.h"

#include <cstdio>

#include "message/string_helpers.h"
#include "net/socket_stack.h"
#include "net/texts.h"

namespace tovrel::net {

ConnClosedGracefully::ConnClosedGracefully() : SilentError(texts::kConnClosedGracefully) {}
NotEnoughDataInBuffer::NotEnoughDataInBuffer()
    : TcpConnectionError(texts::kNotEnoughDataInBuffer) {}
NoDataToRead::NoDataToRead() : TcpConnectionError(texts::kNoDataToRead) {}
ObjectTypeNotSupported::ObjectTypeNotSupported()
    : TcpConnectionError(texts::kObjectTypeNotSupported) {}
LineTooLong::LineTooLong() : TcpConnectionError(texts::kLineTooLong) {}
ReplyTooLong::ReplyTooLong() : TcpConnectionError(texts::kReplyTooLong) {}
InterceptPropIsNil::InterceptPropIsNil() : message::NetError(texts::kInterceptPropIsNil) {}
MoreThanOneGuiPump::MoreThanOneGuiPump() : message::NetError(texts::kMoreThanOneGuiPump) {}
SendCancelled::SendCancelled() : message::NetError(texts::kStoppedByObserver) {}
AlreadyConnected::AlreadyConnected() : message::NetError(texts::kAlreadyConnected) {}
InvalidSocket::InvalidSocket() : message::NetError(texts::kCannotAllocateSocket) {}

InvalidServiceName::InvalidServiceName(const std::string& service)
    : message::NetError(message::FormatText(texts::kInvalidServiceName, {service})) {}
StackInitializationFailed::StackInitializationFailed()
    : StackError(texts::kStackInitializationFailed) {}
StackSetSizeExceeded::StackSetSizeExceeded() : StackError(texts::kStackSetSizeExceeded) {}
CouldNotBindSocket::CouldNotBindSocket() : SocketHandleError(texts::kCouldNotBindSocket) {}

#define TOVREL_DEFINE_SOCKS_ERROR(Name) \
  Name::Name() : SocksError(texts::k##Name) {}
TOVREL_SOCKS_ERRORS(TOVREL_DEFINE_SOCKS_ERROR)
#undef TOVREL_DEFINE_SOCKS_ERROR

bool IsTemporaryFailure(const std::exception& error) {
  if (const auto* reply = dynamic_cast<const ProtocolReplyError*>(&error)) {
    return reply->reply_code() >= 400 && reply->reply_code() <= 499;
  }
  if (const auto* socket = dynamic_cast<const SocketError*>(&error)) {
    const int number = socket->error_number();
    return number == kErrorTimedOut || number == kErrorConnectionRefused ||
           number == kErrorConnectionReset || number == kErrorTryAgain;
  }
  // Raised only while a reply is awaited: after the reply to the final "." nothing is read.
  return dynamic_cast<const ConnClosedGracefully*>(&error) != nullptr;
}

}  // namespace tovrel::net
