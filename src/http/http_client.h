#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "http/async_socket.h"
#include "http/ex_string_list.h"
#include "http/header_info.h"

namespace tovrel::http {

// The request commands, numbered as callers and event handlers see them.
enum class CmdType {
  Get = 0,
  Options = 1,
  Head = 2,
  Post = 3,
  Put = 4,
  Patch = 5,
  Copy = 6,
  Move = 7,
  Delete = 8,
  Link = 9,
  UnLink = 10,
  Trace = 11,
};

// An HTTP/1.0 client on the responsive socket: each command opens a connection, sends one
// request, reads the reply header and then the body until the server closes, and follows
// redirects by asking again. The window that owns it stays responsive throughout.
class HttpClient : public AsyncSocket {
 public:
  using NotifyEvent = std::function<void(HttpClient& sender)>;
  using ResultEvent = std::function<void(HttpClient& sender, CmdType command)>;
  using HandlerEvent = std::function<void(HttpClient& sender, bool& handled)>;

  // A chain of redirects (or of replies that ask to repeat) ends with an error after this many
  // requests, so a misbehaving server cannot keep the client busy for ever.
  static constexpr int kMaxPasses = 20;
  // The reply header as a whole may not grow beyond this; each line is capped by ReadLn.
  static constexpr std::int64_t kMaxHeaderBytes = 1 << 20;

  explicit HttpClient(QObject* owner = nullptr);

  // After a command, the reply body; with input file mode, the name of the file receiving it.
  const std::string& body() const { return body_; }
  void set_body(std::string body) { body_ = std::move(body); }
  // After a command, the status line and header lines with their line ends; with output file
  // mode, the name of the file receiving them.
  const std::string& header() const { return header_; }
  void set_header(std::string header) { header_ = std::move(header); }
  HeaderInfo& header_info() { return header_info_; }
  const HeaderInfo& header_info() const { return header_info_; }
  bool input_file_mode() const { return input_file_mode_; }
  void set_input_file_mode(bool on) { input_file_mode_ = on; }
  // Also makes the data given to a command the name of a file to send.
  bool output_file_mode() const { return output_file_mode_; }
  void set_output_file_mode(bool on) { output_file_mode_ = on; }
  bool encode_post_data() const { return encode_post_data_; }
  void set_encode_post_data(bool on) { encode_post_data_ = on; }
  // Largest body a command accepts, in bytes; -1 accepts any. A longer body ends the command
  // with an error.
  std::int64_t max_body_size() const { return max_body_size_; }
  void set_max_body_size(std::int64_t bytes) { max_body_size_ = bytes; }

  void set_on_about_to_send(NotifyEvent handler) { on_about_to_send_ = std::move(handler); }
  void set_on_success(ResultEvent handler) { on_success_ = std::move(handler); }
  void set_on_failure(ResultEvent handler) { on_failure_ = std::move(handler); }
  void set_on_redirect(HandlerEvent handler) { on_redirect_ = std::move(handler); }
  void set_on_authentication_needed(NotifyEvent handler) {
    on_authentication_needed_ = std::move(handler);
  }

  const std::string& target_url() const { return target_url_; }
  const std::string& request_path() const { return request_path_; }
  const std::string& location() const { return location_; }
  const std::string& cookie_in() const { return cookie_in_; }
  const std::string& send_data() const { return send_data_; }
  const std::string& second_url() const { return second_url_; }
  CmdType command() const { return command_; }
  const ExStringList& request_headers() const { return request_headers_; }
  std::int64_t content_length() const { return content_length_; }
  // Whether a command of this client is running (its waits let other events run meanwhile).
  bool busy() const { return busy_; }

  virtual void Options(std::string_view url);
  virtual void Get(std::string_view url);
  virtual void Post(std::string_view url, std::string_view data);
  virtual void Put(std::string_view url, std::string_view data);
  virtual void Head(std::string_view url);
  virtual void Patch(std::string_view url, std::string_view data);
  virtual void Delete(std::string_view url);
  virtual void Trace(std::string_view url, std::string_view data);
  virtual void Copy(std::string_view url, std::string_view second_url);
  virtual void Move(std::string_view url, std::string_view second_url);
  virtual void Link(std::string_view url, std::string_view link_url);
  virtual void UnLink(std::string_view url, std::string_view link_url);

  // Stops the running command: its wait ends and it raises.
  void Abort() override;

 protected:
  virtual void Perform();
  virtual void SplitURL();
  virtual void ComposeRequest();
  virtual void ReadResponseHeader();
  virtual void SendRequest();

 private:
  void Run(CmdType command, std::string_view url, std::string send_data,
           std::string_view second_url);
  void ReadBody();

  std::string body_ = "Default.htm";
  std::string header_ = "Head.txt";
  HeaderInfo header_info_;
  bool input_file_mode_ = false;
  bool output_file_mode_ = false;
  bool encode_post_data_ = true;
  std::int64_t max_body_size_ = -1;

  NotifyEvent on_about_to_send_;
  ResultEvent on_success_;
  ResultEvent on_failure_;
  HandlerEvent on_redirect_;
  NotifyEvent on_authentication_needed_;

  std::string target_url_;
  std::string request_path_;
  std::string location_;
  std::string cookie_in_;
  std::string send_data_;
  std::string second_url_;
  CmdType command_ = CmdType::Get;
  ExStringList request_headers_;
  std::int64_t content_length_ = 0;
  bool busy_ = false;
};

}  // namespace tovrel::http
