#pragma once

// Every text the update-check client shows or reports: status texts, exception texts and the
// socket error table. Kept in one place so the wording stays consistent across the layer.

#include <array>
#include <string_view>

namespace tovrel::http::texts {

// Status texts, by the report level at which they are given.
inline constexpr std::string_view kCreate = "Create";
inline constexpr std::string_view kDestroy = "Destroy";
inline constexpr std::string_view kConnecting = "Connecting";
inline constexpr std::string_view kDisconnecting = "Disconnecting";
inline constexpr std::string_view kCanceling = "Canceling";
inline constexpr std::string_view kAbort = "Abort";
inline constexpr std::string_view kWrite = "Write";
inline constexpr std::string_view kWriteln = "Writeln";
inline constexpr std::string_view kReadLn = "ReadLn";
inline constexpr std::string_view kTransaction = "Transaction";
inline constexpr std::string_view kSendFile = "SendFile";
inline constexpr std::string_view kCaptureFile = "CaptureFile";
inline constexpr std::string_view kCaptureString = "Capture String";
inline constexpr std::string_view kResolveHost = "Resolve Host";
inline constexpr std::string_view kDataAvailable = "Data Available";
inline constexpr std::string_view kInitializing = "Initializing Winsock";
inline constexpr std::string_view kTimerOn = "Timer On";
inline constexpr std::string_view kTimerOff = "Timer Off";
inline constexpr std::string_view kTimerTriggered = "Timer Triggered";
inline constexpr std::string_view kLookingUpError = "Looking Up Error Message";
inline constexpr std::string_view kSendingBuffer = "Sending Buffer";
inline constexpr std::string_view kRequestClose = "Request Close Socket";
inline constexpr std::string_view kTransactionCompleted = "Transaction Completed";

inline constexpr int kLevelDetail = 8;
inline constexpr int kLevelSocket = 4;
inline constexpr int kLevelTransaction = 2;
inline constexpr int kLevelReply = 1;

// Failures of the socket.
inline constexpr std::string_view kInitFailed = "Initializaton of windows sockets failed";
inline constexpr std::string_view kNoTimer = "No Timer";
inline constexpr std::string_view kLookupTimedOut = "Host Lookup Timed Out";
inline constexpr std::string_view kLookupCanceled = "Host Lookup Canceled";
inline constexpr std::string_view kLookupFailed = "Host Lookup Failed";
inline constexpr std::string_view kAlreadyConnected = "Already connected";
inline constexpr std::string_view kNullRemoteAddress = "Null Remote Address";
inline constexpr std::string_view kConnectTimedOut = "Connection Timed out";
inline constexpr std::string_view kConnectCanceled = "Connection Canceled";
inline constexpr std::string_view kConnectFailed = "Connection Failed";
inline constexpr std::string_view kSendAborted = "Socket send aborted";
inline constexpr std::string_view kReadlnAborted = "Socket readln aborted";
inline constexpr std::string_view kCaptureAborted = "Socket capture aborted";
inline constexpr std::string_view kUnknownError = "Unknown Error No. ";
inline constexpr std::string_view kLineTooLong = "Reply line longer than 65536 bytes";
inline constexpr std::string_view kCannotOpenFile = "Cannot open file ";
inline constexpr std::string_view kCannotCreateFile = "Cannot create file ";
inline constexpr std::string_view kCannotWriteFile = "Cannot write file ";

// The socket error table: number and text, as "number:text" shows them.
struct SocketErrorRow {
  int number;
  std::string_view text;
};

inline constexpr std::array<SocketErrorRow, 50> kSocketErrors{{
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
}};

// Failures of the HTTP client.
inline constexpr std::string_view kEmptyUrl = "Empty URL";
inline constexpr std::string_view kHttpsUnsupported = "HTTP Secure Socket is not supported";
inline constexpr std::string_view kTooManyRedirects = "Too many redirects (more than 20 passes)";
inline constexpr std::string_view kHeaderTooLarge = "Reply header larger than 1 MiB";
inline constexpr std::string_view kBodyTooLarge = "Reply body larger than the allowed ";
inline constexpr std::string_view kBusy = "Another request of this client is still running";
inline constexpr std::string_view kEncodeError = "Error during encode";
inline constexpr std::string_view kNotInteger = "'%s' is not a valid integer value";
inline constexpr std::string_view kPortOutOfRange = "Port number out of range: ";
inline constexpr std::string_view kBadHostInUrl = "Invalid host in URL: ";

// Request header texts.
inline constexpr std::string_view kAcceptFirst =
    "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff";
inline constexpr std::string_view kAcceptSecond =
    "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript";
inline constexpr std::string_view kContentType = "Content-type: application/x-www-form-urlencoded";

}  // namespace tovrel::http::texts
