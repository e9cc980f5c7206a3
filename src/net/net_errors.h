#pragma once

// The failures the transport raises. Each carries its user-visible text as the exception
// message; callers tell them apart by type (and by the numbers they carry) rather than by text.

#include <cstdint>
#include <exception>
#include <string>

#include "message/net_error.h"

namespace tovrel::net {

// A failure that callers may treat as an ordinary end of the conversation.
class SilentError : public message::NetError {
 public:
  using message::NetError::NetError;
};

// The peer closed the connection in an orderly way.
class ConnClosedGracefully : public SilentError {
 public:
  ConnClosedGracefully();
  // The same failure with a hint for the user.
  explicit ConnClosedGracefully(const std::string& message) : SilentError(message) {}
};

// A failed socket call; `error_number()` is the socket error number of the error table.
class SocketError : public message::NetError {
 public:
  SocketError(int error_number, const std::string& message)
      : message::NetError(message), error_number_(error_number) {}
  int error_number() const { return error_number_; }

 private:
  int error_number_;
};

class TcpConnectionError : public message::NetError {
 public:
  using message::NetError::NetError;
};
class NotEnoughDataInBuffer : public TcpConnectionError {
 public:
  NotEnoughDataInBuffer();
};
class NoDataToRead : public TcpConnectionError {
 public:
  NoDataToRead();
};
class ObjectTypeNotSupported : public TcpConnectionError {
 public:
  ObjectTypeNotSupported();
};
// A line from the peer grew past the limit the connection accepts.
class LineTooLong : public TcpConnectionError {
 public:
  LineTooLong();
};

// A reply from the peer grew past the lines or bytes the connection accepts for one reply.
class ReplyTooLong : public TcpConnectionError {
 public:
  ReplyTooLong();
};

class InterceptPropIsNil : public message::NetError {
 public:
  InterceptPropIsNil();
};
class MoreThanOneGuiPump : public message::NetError {
 public:
  MoreThanOneGuiPump();
};

// The observer of a send asked it to stop (ObservedSend). Raised from inside a wait or a write,
// so that the send unwinds as from a failure; the caller knows it for what it is.
class SendCancelled : public message::NetError {
 public:
  SendCancelled();
};

// A reply whose code the caller did not accept; the message shows the server's reply (the SMTP
// client shows all of its lines, see ReplyReader::Shown).
class ProtocolReplyError : public message::NetError {
 public:
  ProtocolReplyError(int16_t reply_code, const std::string& message)
      : message::NetError(message), reply_code_(reply_code) {}
  int16_t reply_code() const { return reply_code_; }

 private:
  int16_t reply_code_;
};

// What the server announced in its EHLO reply rules the message out (too large, an address it
// cannot take, no login method in common); raised before MAIL, so nothing of the message left.
class ServerCapabilityError : public message::NetError {
 public:
  using message::NetError::NetError;
};

class AlreadyConnected : public message::NetError {
 public:
  AlreadyConnected();
};

class InvalidSocket : public message::NetError {
 public:
  InvalidSocket();
};
class InvalidServiceName : public message::NetError {
 public:
  explicit InvalidServiceName(const std::string& service);
};

class StackError : public message::NetError {
 public:
  using message::NetError::NetError;
};
class StackInitializationFailed : public StackError {
 public:
  StackInitializationFailed();
};
class StackSetSizeExceeded : public StackError {
 public:
  StackSetSizeExceeded();
};

class SocketHandleError : public message::NetError {
 public:
  using message::NetError::NetError;
};
class CouldNotBindSocket : public SocketHandleError {
 public:
  CouldNotBindSocket();
};

// A TLS session could not be set up or carried on (hand-shake, certificate, STARTTLS refused).
class TlsError : public message::NetError {
 public:
  using message::NetError::NetError;
};
// The server's certificate did not pass the check, so the user has something to look at.
class TlsCertificateRefused : public TlsError {
 public:
  using TlsError::TlsError;
};

// The server answers only after a TLS hand-shake, and Security does not ask for one: a setting
// to change, not a failure that passes (the port of implicit TLS without SSL/TLS, or a TLS record
// where the greeting was due).
class TlsExpected : public TlsError {
 public:
  using TlsError::TlsError;
};

// Proxy negotiation failures.
class SocksError : public message::NetError {
 public:
  using message::NetError::NetError;
};
// Each names its own text in net_texts (k + the class name).
#define TOVREL_SOCKS_ERRORS(X)         \
  X(SocksRequestFailed)                \
  X(SocksRequestServerFailed)          \
  X(SocksRequestIdentFailed)           \
  X(SocksUnknownError)                 \
  X(SocksServerRespondError)           \
  X(SocksAuthMethodError)              \
  X(SocksAuthError)                    \
  X(SocksServerGeneralError)           \
  X(SocksServerPermissionError)        \
  X(SocksServerNetUnreachableError)    \
  X(SocksServerHostUnreachableError)   \
  X(SocksServerConnectionRefusedError) \
  X(SocksServerTTLExpiredError)        \
  X(SocksServerCommandError)           \
  X(SocksServerAddressError)
#define TOVREL_DECLARE_SOCKS_ERROR(Name) \
  class Name : public SocksError {       \
   public:                               \
    Name();                              \
  };
TOVREL_SOCKS_ERRORS(TOVREL_DECLARE_SOCKS_ERROR)
#undef TOVREL_DECLARE_SOCKS_ERROR

// Whether a failed send may go through unchanged later: a 4xx reply (greylisting, a busy
// server), a time-out, a refused or reset connection, a name lookup that could not be answered
// now, or a server that hung up before it accepted the message. Everything else (5xx replies,
// TLS, files, settings) needs a person to change something first.
bool IsTemporaryFailure(const std::exception& error);

}  // namespace tovrel::net
