#pragma once

#include <string>

namespace tovrel::http {

// The socket error numbers users see are the classic Winsock ones (10061 and so on), whatever
// the system below calls them, so that messages read the same everywhere.
inline constexpr int kWouldBlock = 10035;
inline constexpr int kNotConnected = 10057;

// Maps a system errno onto the table's numbers. An errno that has no row in the table becomes
// 20000 plus the errno, which stays above 10000 (so it is still raised) and is reported as an
// unknown number.
int SocketErrorFromErrno(int system_errno);

// Maps a getaddrinfo result code onto 11001 to 11004.
int SocketErrorFromLookup(int gai_code);

// "10061:Connection refused", or "Unknown Error No. 12345".
std::string SocketErrorText(int number);

}  // namespace tovrel::http
