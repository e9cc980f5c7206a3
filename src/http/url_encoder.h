#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tovrel::http {

// Form encoding of POST data: a space becomes "+", ASCII letters and digits stay, every other
// byte becomes "%" and two upper-case hexadecimal digits.
class UrlEncoder {
 public:
  using ErrorEvent = std::function<void(const std::string& where, const std::string& what)>;

  // The encoded text; should encoding fail, OnError hears of it and the input comes back as is.
  std::string EncodeInput(std::string_view input) const;

  const std::string& input_string() const { return input_string_; }
  void set_input_string(std::string text) { input_string_ = std::move(text); }
  std::string Encode() const { return EncodeInput(input_string_); }

  void set_on_error(ErrorEvent handler) { on_error_ = std::move(handler); }

 private:
  std::string input_string_;
  ErrorEvent on_error_;
};

}  // namespace tovrel::http
