#include "http/http_client.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "http/http_error.h"
#include "http/texts.h"
#include "http/url_encoder.h"
#include "http/uu_processor.h"

namespace tovrel::http {
namespace {

namespace t = texts;

constexpr std::size_t kMaxValueLength = 256;

std::string_view MethodWord(CmdType command) {
  switch (command) {
    case CmdType::Get:
      return "GET ";
    case CmdType::Options:
      return "OPTIONS ";
    case CmdType::Head:
      return "HEAD ";
    case CmdType::Post:
      return "POST ";
    case CmdType::Put:
      return "PUT ";
    case CmdType::Patch:
      return "PATCH ";
    case CmdType::Copy:
      return "COPY ";
    case CmdType::Move:
      return "MOVE ";
    case CmdType::Delete:
      return "DELETE ";
    case CmdType::Link:
      return "LINK ";
    case CmdType::UnLink:
      return "UNLINK ";
    case CmdType::Trace:
      return "TRACE ";
  }
  return "GET ";
}

bool HasRequestData(CmdType command) {
  switch (command) {
    case CmdType::Post:
    case CmdType::Put:
    case CmdType::Patch:
    case CmdType::Link:
    case CmdType::UnLink:
    case CmdType::Trace:
      return true;
    default:
      return false;
  }
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string_view WithoutLineEnd(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// The `index`-th (from 0) field of `text` split at every `separator`; empty when there are
// fewer fields.
std::string_view Field(std::string_view text, char separator, std::size_t index) {
  for (std::size_t i = 0; i < index; ++i) {
    const std::size_t at = text.find(separator);
    if (at == std::string_view::npos) return {};
    text.remove_prefix(at + 1);
  }
  return text.substr(0, text.find(separator));
}

// Unsigned decimal digits alone, at most 18 of them; anything else has no value.
bool ParseDigits(std::string_view text, std::int64_t& value) {
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// The value of a header line from a fixed offset, without its line end, cut to 256 bytes.
std::string HeaderValue(std::string_view line, std::size_t offset) {
  line = WithoutLineEnd(line);
  if (offset >= line.size()) return {};
  return std::string(line.substr(offset, kMaxValueLength));
}

int ParsePort(std::string_view text) {
  std::string_view digits = text;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
  std::int64_t value = 0;
  if (!ParseDigits(digits, value)) {
    std::string message(t::kNotInteger);
    message.replace(message.find("%s"), 2, text);
    throw HttpError(message);
  }
  if (text.front() == '-') value = -value;
  if (value < 0 || value > 65535)
    throw HttpError(std::string(t::kPortOutOfRange) + std::string(text));
  return int(value);
}

// An IPv6 address as a URL or a Host line writes it: in brackets, which keep its colons apart
// from the port's.
std::string Bracketed(std::string_view host) {
  if (host.find(':') == std::string_view::npos || host.front() == '[') return std::string(host);
  return "[" + std::string(host) + "]";
}

// The Host line's value: the name alone, as the server has always been sent it; an IPv6
// address needs its brackets to be a valid host there.
std::string HostLineValue(std::string_view host) { return Bracketed(host); }

}  // namespace

HttpClient::HttpClient(QObject* owner) : AsyncSocket(owner) {}

void HttpClient::Abort() {
  set_async_done(true);
  Cancel();
}

void HttpClient::Run(CmdType command, std::string_view url, std::string send_data,
                     std::string_view second_url) {
  target_url_ = std::string(url);
  send_data_ = std::move(send_data);
  second_url_ = std::string(second_url);
  command_ = command;
  Perform();
}

void HttpClient::Options(std::string_view url) {
  Run(CmdType::Options, url, send_data_, second_url_);
}
void HttpClient::Get(std::string_view url) { Run(CmdType::Get, url, send_data_, second_url_); }
void HttpClient::Head(std::string_view url) { Run(CmdType::Head, url, send_data_, second_url_); }
void HttpClient::Delete(std::string_view url) {
  Run(CmdType::Delete, url, send_data_, second_url_);
}

void HttpClient::Post(std::string_view url, std::string_view data) {
  std::string to_send(data);
  if (encode_post_data_ && !output_file_mode_) to_send = UrlEncoder().EncodeInput(data);
  Run(CmdType::Post, url, std::move(to_send), second_url_);
}

void HttpClient::Put(std::string_view url, std::string_view data) {
  Run(CmdType::Put, url, std::string(data), second_url_);
}

void HttpClient::Patch(std::string_view url, std::string_view data) {
  Run(CmdType::Patch, url, std::string(data), second_url_);
}

void HttpClient::Trace(std::string_view url, std::string_view data) {
  Run(CmdType::Trace, url, std::string(data), second_url_);
}

void HttpClient::Copy(std::string_view url, std::string_view second_url) {
  Run(CmdType::Copy, url, send_data_, second_url);
}

void HttpClient::Move(std::string_view url, std::string_view second_url) {
  Run(CmdType::Move, url, send_data_, second_url);
}

void HttpClient::Link(std::string_view url, std::string_view link_url) {
  Run(CmdType::Link, url, "Send.dat", link_url);
}

void HttpClient::UnLink(std::string_view url, std::string_view link_url) {
  Run(CmdType::UnLink, url, "Send.dat", link_url);
}

void HttpClient::Perform() {
  // Each wait lets other events run; a second command on the same connection would tear the
  // first one's connection down under it.
  if (busy_) throw HttpError(t::kBusy);
  busy_ = true;
  struct ClearBusy {
    bool& flag;
    ~ClearBusy() { flag = false; }
  } clear_busy{busy_};

  int status = 0;
  int passes = 0;
  do {
    if (++passes > kMaxPasses) throw HttpError(t::kTooManyRedirects);
    SplitURL();
    ComposeRequest();
    if (on_about_to_send_) on_about_to_send_(*this);
    try {
      Connect();
      SendRequest();
      set_reply_number(0);
      ReadResponseHeader();
      ReadBody();
      status = reply_number();
      if (status < 299) {
        if (on_success_) on_success_(*this, command_);
        PostStatus(t::kLevelTransaction, t::kTransactionCompleted);
      } else if (status >= 300 && status <= 302) {
        target_url_ = location_;
      } else if (status >= 400) {
        if (on_failure_) on_failure_(*this, command_);
      }
      Disconnect();
    } catch (...) {
      try {
        Disconnect();
      } catch (...) {
      }
      throw;
    }
    if (status >= 300 && status <= 398) {
      if (!cookie_in_.empty()) header_info_.cookie = cookie_in_;
      bool handled = false;
      if (on_redirect_) on_redirect_(*this, handled);
      if (handled) return;
      if (target_url_.find('/') == std::string::npos) {
        // A bare name stays on the server that sent it, port included.
        const std::string port_part = port() == 80 ? "" : ":" + std::to_string(port());
        target_url_ = "http://" + Bracketed(host()) + port_part + "/" + target_url_;
      }
    }
    if (status == 401 && on_authentication_needed_) on_authentication_needed_(*this);
  } while (status >= 299 && status <= 399);
}

void HttpClient::SplitURL() {
  if (target_url_.empty()) throw HttpError(t::kEmptyUrl);
  if (port() == 0) set_port(80);

  const bool has_double_slash = target_url_.find("//") != std::string::npos;
  std::size_t path_start = std::string::npos;
  if (has_double_slash) {
    path_start = 0;
    for (int i = 0; i < 3 && path_start != std::string::npos; ++i) {
      path_start = target_url_.find('/', i == 0 ? 0 : path_start + 1);
    }
  } else {
    path_start = target_url_.find('/');
  }
  request_path_ = path_start == std::string::npos ? std::string()
                                                  : target_url_.substr(path_start, kMaxValueLength);

  const std::size_t colon = target_url_.find(':');
  if (colon != std::string::npos) {
    const std::string scheme = Lower(std::string_view(target_url_).substr(0, colon));
    if (scheme == "https") throw HttpError(t::kHttpsUnsupported);
    set_port(scheme == "gopher" ? 70 : scheme == "ftp" ? 21 : 80);
  }

  std::string_view host_part;
  if (has_double_slash) {
    host_part = Field(target_url_, '/', 2);
  } else if (target_url_.front() != '/') {
    host_part = Field(target_url_, '/', 0);
  }
  if (!host_part.empty() && host_part.front() == '[') {
    // "[2001:db8::1]" or "[2001:db8::1]:8080": the colons inside the brackets are the address's.
    const std::size_t close = host_part.find(']');
    const std::string_view after =
        close == std::string_view::npos ? host_part : host_part.substr(close + 1);
    if (close == std::string_view::npos || close == 1 || (!after.empty() && after.front() != ':')) {
      throw HttpError(std::string(t::kBadHostInUrl) + std::string(host_part));
    }
    if (!after.empty()) set_port(ParsePort(after.substr(1)));
    host_part = host_part.substr(1, close - 1);
  } else if (const std::size_t port_colon = host_part.find(':');
             port_colon != std::string_view::npos) {
    set_port(ParsePort(host_part.substr(port_colon + 1)));
    host_part = host_part.substr(0, port_colon);
  }
  if (!host_part.empty()) set_host(std::string(host_part));

  if (request_path_.empty()) {
    request_path_ = "/";
    target_url_ += "/";
  }
}

void HttpClient::ComposeRequest() {
  request_headers_.Clear();
  std::string request_line(MethodWord(command_));
  request_line += proxy().empty() ? request_path_ : target_url_;
  request_line += " HTTP/1.0";
  request_headers_.Add(std::move(request_line));
  if (!proxy().empty()) {
    request_headers_.Add("Proxy-Connection: Keep-Alive");
    request_headers_.Add("Host: " + HostLineValue(host()));
  }
  request_headers_.SetHeaderValue("Host", HostLineValue(host()));
  request_headers_.Add(std::string(t::kAcceptFirst));
  request_headers_.Add(std::string(t::kAcceptSecond));
  if (!header_info_.local_mail_address.empty()) {
    request_headers_.SetHeaderValue("User-Agent", header_info_.local_mail_address);
  }
  if (!header_info_.local_program.empty()) {
    request_headers_.SetHeaderValue("From", header_info_.local_program);
  }
  if (!header_info_.cookie.empty()) request_headers_.SetHeaderValue("Cookie", header_info_.cookie);
  if (!header_info_.referer.empty()) {
    request_headers_.SetHeaderValue("Referer", header_info_.referer);
  }
  if (!header_info_.user_id.empty() && !header_info_.password.empty()) {
    std::string credentials =
        UUProcessor::EncodeMime(header_info_.user_id + ":" + header_info_.password);
    // Long credentials come out in several lines; a header value must stay on one.
    std::erase_if(credentials, [](char c) { return c == '\r' || c == '\n'; });
    request_headers_.SetHeaderValue("Authorization", "Basic " + credentials);
  }
  request_headers_.Add(std::string(t::kContentType));
  if (command_ == CmdType::Copy || command_ == CmdType::Move) {
    request_headers_.Add("URI-header: " + second_url_);
  } else if (command_ == CmdType::Link || command_ == CmdType::UnLink) {
    request_headers_.Add("Link: " + second_url_);
  }
  if (HasRequestData(command_)) {
    std::uintmax_t length = send_data_.size();
    if (output_file_mode_) {
      std::error_code error;
      length = std::filesystem::file_size(send_data_, error);
      if (error) throw HttpError(std::string(t::kCannotOpenFile) + send_data_);
    }
    request_headers_.Add("Content-Length: " + std::to_string(length));
  }
}

void HttpClient::SendRequest() {
  for (const std::string& line : request_headers_.lines()) Write(line + "\r\n");
  Writeln("");
  // Every command that announces a length sends that many bytes.
  if (!HasRequestData(command_)) return;
  if (output_file_mode_) {
    SendFile(send_data_);
  } else {
    Write(send_data_);
  }
}

void HttpClient::ReadResponseHeader() {
  content_length_ = 0;
  cookie_in_.clear();
  std::ofstream header_file;
  if (output_file_mode_) {
    header_file.open(header_, std::ios::binary | std::ios::trunc);
    if (!header_file) throw HttpError(std::string(t::kCannotCreateFile) + header_);
  } else {
    header_.clear();
  }
  std::int64_t stored = 0;
  auto store = [&](const std::string& line) {
    stored += std::int64_t(line.size());
    if (stored > kMaxHeaderBytes) throw HttpError(t::kHeaderTooLarge);
    if (output_file_mode_) {
      header_file.write(line.data(), std::streamsize(line.size()));
      if (!header_file) throw HttpError(std::string(t::kCannotWriteFile) + header_);
    } else {
      header_ += line;
    }
  };

  const std::string status_line = ReadLn();
  if (!status_line.empty()) {
    std::int64_t status = 0;
    if (!ParseDigits(Field(WithoutLineEnd(status_line), ' ', 1), status) || status > 0xFFFF) {
      status = 0;
    }
    set_reply_number(int(status));
  }
  store(status_line);

  for (;;) {
    const std::string line = ReadLn();
    const std::string word = Upper(Field(line, ' ', 0));
    if (word == "SET-COOKIE:") {
      cookie_in_ = HeaderValue(line, 12);
    } else if (word == "LOCATION:") {
      location_ = HeaderValue(line, 10);
    } else if (word == "CONTENT-LENGTH:") {
      const std::string upper = Upper(line);
      std::string_view number = WithoutLineEnd(upper);
      number.remove_prefix(number.find("ENGTH:") + 6);
      while (!number.empty() && (number.front() == ' ' || number.front() == '\t')) {
        number.remove_prefix(1);
      }
      std::int64_t length = 0;
      content_length_ = ParseDigits(number, length) ? length : 0;
    }
    store(line);
    if (line.empty() || line == "\r\n" || line == "\n") break;
  }
}

void HttpClient::ReadBody() {
  // One byte past the allowance tells a body of exactly the allowed size from a longer one.
  const std::int64_t limit = max_body_size_ < 0 ? -1 : max_body_size_ + 1;
  if (input_file_mode_) {
    CaptureFile(body_, limit);
  } else {
    body_ = CaptureString(limit);
  }
  if (max_body_size_ >= 0 && bytes_recvd() > max_body_size_) {
    throw HttpError(std::string(t::kBodyTooLarge) + std::to_string(max_body_size_) + " bytes");
  }
}

}  // namespace tovrel::http
