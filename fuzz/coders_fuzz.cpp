// Any bytes through base64, quoted-printable, UU or XX: encoded and decoded again they come back
// unchanged, whatever block sizes the coders use and however the input and the encoded text are
// cut into pieces.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "message/coders/base64.h"
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
