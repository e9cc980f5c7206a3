#include "net/net_errors.h"

#include <cstdio>

#include "net/texts.h"

namespace tovrel {

ConnClosedGracefully::ConnClosedGracefully() : SilentError(net_texts::kConnClosedGracefully) {}
NotEnoughDataInBuffer::NotEnoughDataInBuffer()
    : TcpConnectionError(net_texts::kNotEnoughDataInBuffer) {}
NoDataToRead::NoDataToRead() : TcpConnectionError(net_texts::kNoDataToRead) {}
ObjectTypeNotSupported::ObjectTypeNotSupported()
    : TcpConnectionError(net_texts::kObjectTypeNotSupported) {}
LineTooLong::LineTooLong() : TcpConnectionError(net_texts::kLineTooLong) {}
InterceptPropIsNil::InterceptPropIsNil() : NetError(net_texts::kInterceptPropIsNil) {}
MoreThanOneGuiPump::MoreThanOneGuiPump() : NetError(net_texts::kMoreThanOneGuiPump) {}
AlreadyConnected::AlreadyConnected() : NetError(net_texts::kAlreadyConnected) {}
InvalidSocket::InvalidSocket() : NetError(net_texts::kCannotAllocateSocket) {}

static std::string FormatName(const char* format, const std::string& value) {
  std::string out(std::snprintf(nullptr, 0, format, value.c_str()), '\0');
  std::snprintf(out.data(), out.size() + 1, format, value.c_str());
  return out;
}

InvalidServiceName::InvalidServiceName(const std::string& service)
    : NetError(FormatName(net_texts::kInvalidServiceName, service)) {}
StackInitializationFailed::StackInitializationFailed()
    : StackError(net_texts::kStackInitializationFailed) {}
StackSetSizeExceeded::StackSetSizeExceeded() : StackError(net_texts::kStackSetSizeExceeded) {}
CouldNotBindSocket::CouldNotBindSocket() : SocketHandleError(net_texts::kCouldNotBindSocket) {}

#define TOVREL_DEFINE_SOCKS_ERROR(Name) \
  Name::Name() : SocksError(net_texts::k##Name) {}
TOVREL_SOCKS_ERRORS(TOVREL_DEFINE_SOCKS_ERROR)
#undef TOVREL_DEFINE_SOCKS_ERROR

}  // namespace tovrel
