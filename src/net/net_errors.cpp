#include "net/net_errors.h"

#include <cstdio>

#include "net/texts.h"

namespace tovrel::net {

ConnClosedGracefully::ConnClosedGracefully() : SilentError(texts::kConnClosedGracefully) {}
NotEnoughDataInBuffer::NotEnoughDataInBuffer()
    : TcpConnectionError(texts::kNotEnoughDataInBuffer) {}
NoDataToRead::NoDataToRead() : TcpConnectionError(texts::kNoDataToRead) {}
ObjectTypeNotSupported::ObjectTypeNotSupported()
    : TcpConnectionError(texts::kObjectTypeNotSupported) {}
LineTooLong::LineTooLong() : TcpConnectionError(texts::kLineTooLong) {}
InterceptPropIsNil::InterceptPropIsNil() : message::NetError(texts::kInterceptPropIsNil) {}
MoreThanOneGuiPump::MoreThanOneGuiPump() : message::NetError(texts::kMoreThanOneGuiPump) {}
AlreadyConnected::AlreadyConnected() : message::NetError(texts::kAlreadyConnected) {}
InvalidSocket::InvalidSocket() : message::NetError(texts::kCannotAllocateSocket) {}

static std::string FormatName(const char* format, const std::string& value) {
  std::string out(std::snprintf(nullptr, 0, format, value.c_str()), '\0');
  std::snprintf(out.data(), out.size() + 1, format, value.c_str());
  return out;
}

InvalidServiceName::InvalidServiceName(const std::string& service)
    : message::NetError(FormatName(texts::kInvalidServiceName, service)) {}
StackInitializationFailed::StackInitializationFailed()
    : StackError(texts::kStackInitializationFailed) {}
StackSetSizeExceeded::StackSetSizeExceeded() : StackError(texts::kStackSetSizeExceeded) {}
CouldNotBindSocket::CouldNotBindSocket() : SocketHandleError(texts::kCouldNotBindSocket) {}

#define TOVREL_DEFINE_SOCKS_ERROR(Name) \
  Name::Name() : SocksError(texts::k##Name) {}
TOVREL_SOCKS_ERRORS(TOVREL_DEFINE_SOCKS_ERROR)
#undef TOVREL_DEFINE_SOCKS_ERROR

}  // namespace tovrel::net
