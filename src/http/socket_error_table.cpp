#include "http/socket_error_table.h"

#include <netdb.h>

#include <array>
#include <cerrno>
#include <string_view>
#include <utility>

#include "http/texts.h"

namespace tovrel::http {
namespace {

// The same rows as the transport's own table (net/socket_stack.cpp): the two layers may not share
// code, and a test of the program checks that they agree.
constexpr std::array<std::pair<int, int>, 45> kErrnoMap{{
    {EINTR, 10004},           {EBADF, 10009},        {EACCES, 10013},
    {EPERM, 10013},           {EFAULT, 10014},       {EINVAL, 10022},
    {EMFILE, 10024},          {ENFILE, 10024},       {ENOMEM, 10055},
    {EWOULDBLOCK, 10035},     {EINPROGRESS, 10036},  {EALREADY, 10037},
    {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},        {ENETUNREACH, 10051},  {ENETRESET, 10052},
    {ECONNABORTED, 10053},    {ECONNRESET, 10054},   {ENOBUFS, 10055},
    {EISCONN, 10056},         {ENOTCONN, 10057},     {ESHUTDOWN, 10058},
    {EPIPE, 10058},           {ETOOMANYREFS, 10059}, {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},    {ELOOP, 10062},        {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},       {EHOSTUNREACH, 10065}, {ENOTEMPTY, 10066},
    {EUSERS, 10068},          {EDQUOT, 10069},       {ESTALE, 10070},
}};

constexpr int kUnmappedErrnoBase = 20000;

}  // namespace

int SocketErrorFromErrno(int system_errno) {
  if (system_errno == EAGAIN) return kWouldBlock;  // EAGAIN and EWOULDBLOCK may differ elsewhere
  if (system_errno == EREMOTE) return 10071;
  for (const auto& [from, to] : kErrnoMap) {
    if (from == system_errno) return to;
  }
  return kUnmappedErrnoBase + system_errno;
}

int SocketErrorFromLookup(int gai_code) {
  switch (gai_code) {
    case EAI_NONAME:
      return 11001;
    case EAI_AGAIN:
      return 11002;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
      return 11004;
    default:
      return 11003;
  }
}

std::string SocketErrorText(int number) {
  for (const auto& row : texts::kSocketErrors) {
    if (row.number == number) return std::to_string(number) + ":" + std::string(row.text);
  }
  return std::string(texts::kUnknownError) + std::to_string(number);
}

}  // namespace tovrel::http
