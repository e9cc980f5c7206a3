#pragma once

// Every text of the transport layer that a user can see, kept together so that wording stays
// consistent and can be reviewed in one place. Formats hold "%s" placeholders, filled by
// FormatText.

namespace tovrel::net::texts {

// Connection status.
inline constexpr char kStatusResolving[] = "Resolving hostname %s.";
inline constexpr char kStatusConnecting[] = "Connecting to %s.";
inline constexpr char kStatusConnected[] = "Connected.";
inline constexpr char kStatusDisconnecting[] = "Disconnecting from %s.";
inline constexpr char kStatusDisconnected[] = "Not connected.";
inline constexpr char kStatusText[] = "%s";

// Socket layer.
inline constexpr char kSocketErrorFormat[] = "Socket Error # %s\r\n%s";
inline constexpr char kCannotAllocateSocket[] = "Cannot allocate socket.";
inline constexpr char kCouldNotBindSocket[] =
    "Could not bind socket. Address and port are already in use.";
inline constexpr char kInvalidServiceName[] = "%s is not a valid service.";
inline constexpr char kStackInitializationFailed[] = "Winsock Initialization Error.";
inline constexpr char kStackSetSizeExceeded[] = "Set Size Exceeded.";
inline constexpr char kStackVersionDescription[] = "POSIX sockets";

// Buffered connection.
inline constexpr char kConnClosedGracefully[] = "Connection Closed Gracefully.";
inline constexpr char kNotEnoughDataInBuffer[] = "Not enough data in buffer.";
inline constexpr char kNoDataToRead[] = "No data to read.";
inline constexpr char kObjectTypeNotSupported[] = "Object type not supported.";
inline constexpr char kLineTooLong[] = "Line from server too long.";
inline constexpr char kReplyTooLong[] = "Reply from server too long.";

// TLS. The host and OpenSSL's reason fill the placeholders.
inline constexpr char kTlsVerifyFailed[] = "TLS: certificate verify failed for %s: %s";
inline constexpr char kTlsHandshakeFailed[] = "TLS: handshake failed for %s: %s";
inline constexpr char kTlsSetupFailed[] = "TLS: cannot set up a session for %s: %s";
inline constexpr char kTlsNoStartTls[] =
    "TLS: %s does not offer STARTTLS; nothing was sent (set Security to None to send without TLS)";
inline constexpr char kTlsStartTlsRefused[] = "TLS: %s refused STARTTLS: %s";
inline constexpr char kTlsDataBeforeTls[] =
    "TLS: handshake not started with %s: The server sent data before TLS started";
inline constexpr char kTlsTimedOut[] = "timed out";
inline constexpr char kTlsPeerClosed[] = "connection closed by the server";
// printf-style: the library's file name and the loader's message.
inline constexpr char kTlsLibraryMissing[] = "TLS: cannot load %s: %s";
inline constexpr char kInterceptPropIsNil[] =
    "InterceptEnabled cannot be set to true when Intercept is nil.";
inline constexpr char kMoreThanOneGuiPump[] = "Only one GuiPump can exist per application.";
inline constexpr char kStoppedByObserver[] = "The send was stopped by its observer.";

// TCP client.
inline constexpr char kAlreadyConnected[] = "Already connected.";
inline constexpr char kSocksRequestFailed[] = "Request rejected or failed.";
inline constexpr char kSocksRequestServerFailed[] =
    "Request rejected because SOCKS server cannot connect.";
inline constexpr char kSocksRequestIdentFailed[] =
    "Request rejected because the client program and identd report different user-ids.";
inline constexpr char kSocksUnknownError[] = "Unknown socks error.";
inline constexpr char kSocksServerRespondError[] = "Socks server did not respond.";
inline constexpr char kSocksAuthMethodError[] = "Invalid socks authentication method.";
inline constexpr char kSocksAuthError[] = "Authentication error to socks server.";
inline constexpr char kSocksServerGeneralError[] = "General SOCKS server failure.";
inline constexpr char kSocksServerPermissionError[] = "Connection not allowed by ruleset.";
inline constexpr char kSocksServerNetUnreachableError[] = "Network unreachable.";
inline constexpr char kSocksServerHostUnreachableError[] = "Host unreachable.";
inline constexpr char kSocksServerConnectionRefusedError[] = "Connection refused.";
inline constexpr char kSocksServerTTLExpiredError[] = "TTL expired.";
inline constexpr char kSocksServerCommandError[] = "Command not supported.";
inline constexpr char kSocksServerAddressError[] = "Address type not supported.";

// Message writer.
inline constexpr char kEncodingText[] = "Encoding text";
inline constexpr char kEncodingAttachment[] = "Encoding attachment";
inline constexpr char kFileReadError[] = "Read error on file %s";

// SMTP client.
inline constexpr char kInvalidEnvelopeAddress[] = "Invalid character in e-mail address \"%s\"";
inline constexpr char kEnvelopeAddressTooLong[] =
    "E-mail address too long for an SMTP command \"%s\"";
// The address and the server's reply.
inline constexpr char kRecipientRefused[] = "The server refused the recipient %s: %s";
// The message's size and the server's limit, in MB.
inline constexpr char kMessageTooLarge[] =
    "The message is %s MB, larger than the %s MB the server accepts; nothing was sent";
inline constexpr char kNoCommonLoginMethod[] =
    "The server offers no login method TovrelMail supports (offered: %s)";
inline constexpr char kAddressNeedsSmtpUtf8[] =
    "The server does not accept the address %s (it needs SMTPUTF8)";
inline constexpr char kNeedsEightBitMime[] =
    "The server does not accept 8-bit text (no 8BITMIME) for the stored message";
// The path and the system's reason.
inline constexpr char kStoredMessageUnreadable[] = "Cannot read the stored message %s: %s";
// OAuth 2.0 sign-in.
inline constexpr char kOAuthNeedsTls[] =
    "Signing in with OAuth 2.0 needs TLS: set Security to STARTTLS or SSL/TLS; nothing was sent";
inline constexpr char kBadAccessToken[] =
    "The access token holds characters a bearer token cannot have (blanks, control characters); "
    "it was not sent";
// The server's final reply, then the status and the scope from its error document.
inline constexpr char kOAuthRefused[] =
    "The server refused the OAuth 2.0 sign-in: %s (status %s, scope %s)";
inline constexpr char kServerSpeaksTls[] =
    "The server speaks TLS on this port: choose SSL/TLS in Settings";
// The host.
inline constexpr char kPasswordInClear[] =
    "The password would go to %s unencrypted: choose STARTTLS or SSL/TLS in Settings";
// Added to a failure while waiting for the greeting on the port of implicit TLS.
inline constexpr char kMayExpectImplicitTls[] =
    "The server may expect SSL/TLS (Security in Settings)";

}  // namespace tovrel::net::texts
