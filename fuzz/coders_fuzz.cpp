// Any bytes through base64, quoted-printable, UU or XX: encoded and decoded again they come back
// unchanged, whatever block sizes the coders use and however the input and the encoded text are
// cut into pieces. Every base64 kernel the processor runs gives the portable one's text, and
// attachment lines made in one go match lines made one by one.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "message/coders/base64.h"
#include "message/coders/base64_kernels.h"
#include "message/coders/quoted_printable.h"
#include "message/coders/uu_xx.h"

namespace tovrel::fuzz {
namespace {

// Feeds `text` in pieces whose sizes come from the input, then finishes.
std::string Run(message::Coder& coder, std::string_view text, FuzzedDataProvider& input) {
  std::string out;
  while (!text.empty()) {
    const std::size_t piece =
        std::min(text.size(), input.ConsumeIntegralInRange<std::size_t>(1, 5000));
    coder.Feed(text.substr(0, piece), out);
    text.remove_prefix(piece);
  }
  coder.FinishInput(out);
  return out;
}

// The kernels over `bytes`, some of them allowed to read past the end (into the rest of `all`).
void CheckKernels(std::string_view all, std::size_t n) {
  const auto* in = reinterpret_cast<const unsigned char*>(all.data());
  const std::span<const message::Base64Kernel> kernels = message::Base64Kernels();
  std::string expected(4 * ((n + 2) / 3), '\0');
  kernels.front().encode(in, n, n, expected.data());
  for (const message::Base64Kernel& kernel : kernels) {
    for (const std::size_t readable : {n, all.size()}) {
      std::string out(expected.size(), '\0');
      kernel.encode(in, n, readable, out.data());
      Require(out == expected, "a base64 kernel differs from the portable one");
    }
  }
}

void CheckLinesAtOnce(std::string_view bytes, std::size_t piece) {
  message::Base64Encoder one_by_one;
  message::Base64Encoder at_once;
  one_by_one.set_append_line_break(true);
  at_once.set_append_line_break(true);
  std::string expected;
  std::string out;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    one_by_one.Feed(bytes.substr(at, piece), expected);
    one_by_one.FinishInput(expected);
  }
  at_once.FeedEachFinished(bytes, piece, out);
  Require(out == expected, "lines made at once differ from lines made one by one");
}

int TestOne(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::unique_ptr<message::Coder> encoder;
  std::unique_ptr<message::Coder> decoder;
  switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      encoder = std::make_unique<message::Base64Encoder>();
      decoder = std::make_unique<message::Base64Decoder>();
      break;
    case 1:
      encoder = std::make_unique<message::QuotedPrintableEncoder>();
      decoder = std::make_unique<message::QuotedPrintableDecoder>();
      break;
    case 2:
      encoder = std::make_unique<message::UUEncoder>();
      decoder = std::make_unique<message::UUDecoder>();
      break;
    default:
      encoder = std::make_unique<message::XXEncoder>();
      decoder = std::make_unique<message::XXDecoder>();
      break;
  }
  encoder->SetBlockSize(input.ConsumeIntegralInRange<std::uint32_t>(1, 8192));
  decoder->SetBlockSize(input.ConsumeIntegralInRange<std::uint32_t>(1, 8192));
  const std::string payload =
      input.ConsumeBytesAsString(input.ConsumeIntegralInRange<std::size_t>(0, size));
  if (dynamic_cast<message::Base64Encoder*>(encoder.get()) != nullptr) {
    CheckKernels(payload, payload.size() - std::min(payload.size(), payload.size() % 7));
    CheckLinesAtOnce(payload, 1 + payload.size() % 100);
  }
  const std::string encoded = Run(*encoder, payload, input);
  const std::string decoded = Run(*decoder, encoded, input);
  Require(decoded == payload, "decoding the encoded bytes does not give them back");
  return 0;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tovrel::fuzz::TestOne(data, size);
}
