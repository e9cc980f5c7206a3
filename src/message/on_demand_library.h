#pragma once

// A system library opened on its first use instead of linked in: a program start pays for every
// library linked in, and most runs never need these. Once open, it stays open to the end of
// the run (their own clean-up at exit may still run).

#include <mutex>
#include <string>

namespace tovrel::message {

class OnDemandLibrary {
 public:
  explicit OnDemandLibrary(std::string file_name) : file_name_(std::move(file_name)) {}
  OnDemandLibrary(const OnDemandLibrary&) = delete;
  OnDemandLibrary& operator=(const OnDemandLibrary&) = delete;

  const std::string& file_name() const { return file_name_; }

  // The library's function `name`, the library opened by the first call of any thread. Null
  // when the library or the function cannot be had; `failure` then holds the loader's message.
  void* Symbol(const char* name, std::string& failure);

 private:
  std::string file_name_;
  std::once_flag opened_;
  void* handle_ = nullptr;
  std::string open_failure_;
};

}  // namespace tovrel::message
