#include "app/sign_in_callback.h"

#include <algorithm>

#include "message/string_helpers.h"

namespace tovrel::app {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Form decoding; a "%" without two hex digits after it stays as it is.
std::string FormDecoded(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      bytes += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      bytes += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      bytes += text[i];
    }
  }
  return bytes;
}

std::string_view Trimmed(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// The next line without its end; `rest` moves past it.
std::string_view NextLine(std::string_view& rest) {
  const std::size_t end = rest.find('\n');
  std::string_view line = rest.substr(0, end);
  rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

CallbackRequest ReadCallbackRequest(std::string_view bytes) {
  CallbackRequest request;
  // The header ends at the first empty line: LF LF, or LF CR LF.
  std::size_t end = std::string_view::npos;
  for (std::size_t at = bytes.find('\n'); at != std::string_view::npos;
       at = bytes.find('\n', at + 1)) {
    if (at + 1 < bytes.size() && bytes[at + 1] == '\n') {
      end = at + 2;
      break;
    }
    if (at + 2 < bytes.size() && bytes[at + 1] == '\r' && bytes[at + 2] == '\n') {
      end = at + 3;
      break;
    }
  }
  if (end == std::string_view::npos || end > kCallbackRequestLimit) {
    request.status = bytes.size() >= kCallbackRequestLimit ? CallbackRequest::Status::kTooLarge
                                                           : CallbackRequest::Status::kIncomplete;
    return request;
  }
  std::string_view rest = bytes.substr(0, end);
  request.status = CallbackRequest::Status::kMalformed;
  const std::string_view line = NextLine(rest);
  const std::size_t first_blank = line.find(' ');
  const std::size_t second_blank = line.find(' ', first_blank + 1);
  if (first_blank == 0 || first_blank == std::string_view::npos ||
      second_blank == std::string_view::npos ||
      !line.substr(second_blank + 1).starts_with("HTTP/") ||
      line.find(' ', second_blank + 1) != std::string_view::npos) {
    return request;
  }
  request.method = line.substr(0, first_blank);
  const std::string_view target = line.substr(first_blank + 1, second_blank - first_blank - 1);
  const std::size_t question = target.find('?');
  request.path = target.substr(0, question);
  if (request.path.empty()) return request;
  if (question != std::string_view::npos) {
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
      const std::size_t ampersand = query.find('&');
      const std::string_view pair = query.substr(0, ampersand);
      query.remove_prefix(ampersand == std::string_view::npos ? query.size() : ampersand + 1);
      if (pair.empty()) continue;
      const std::size_t equals = pair.find('=');
      request.query.emplace(
          FormDecoded(pair.substr(0, equals)),
          equals == std::string_view::npos ? std::string() : FormDecoded(pair.substr(equals + 1)));
    }
  }
  bool host_seen = false;
  for (std::string_view header = NextLine(rest); !header.empty(); header = NextLine(rest)) {
    const std::size_t colon = header.find(':');
    if (colon == std::string_view::npos || colon == 0) return request;
    // Two Host fields could name two listeners; neither is believed.
    if (message::EqualsIgnoreCase(header.substr(0, colon), "Host")) {
      if (host_seen) return request;
      host_seen = true;
      request.host = Trimmed(header.substr(colon + 1));
    }
  }
  request.status = CallbackRequest::Status::kComplete;
  return request;
}

}  // namespace tovrel::app
