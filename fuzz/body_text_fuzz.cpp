// Any bytes as body text: the block-at-a-time passes give what a byte-by-byte look gives. The
// masks of line ends and unprintable bytes, inline and from the batch kernels, match the portable
// ones, the wire lines made in one go match lines split and dot-stuffed one at a time, the scan's
// plan and wire size match a plain count however the text is cut into pieces, and the UTF-8 check
// matches a character-by-character decode.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "message/byte_masks.h"
#include "message/utf8_text.h"
#include "net/body_text.h"

namespace tovrel::fuzz {
namespace {

void CheckMasks(std::string_view text) {
  for (std::size_t at = 0; at + message::kMaskBlock <= text.size(); ++at) {
    const char* p = text.data() + at;
    Require(message::LineEndMask(p) == message::LineEndMaskBytewise(p, message::kMaskBlock),
            "line end mask");
    Require(message::UnprintableMask(p) == message::UnprintableMaskBytewise(p, message::kMaskBlock),
            "unprintable mask");
  }
  // The batch kernels (AVX2 where the processor has it), from every start within a block.
  for (std::size_t start = 0; start < message::kMaskBlock && start < text.size(); ++start) {
    const std::size_t count = std::min((text.size() - start) / message::kMaskBlock, std::size_t{8});
    std::uint64_t line_ends[8];
    std::uint64_t unprintable[8];
    message::LineEndMasks(text.data() + start, count, line_ends);
    message::UnprintableMasks(text.data() + start, count, unprintable);
    for (std::size_t i = 0; i < count; ++i) {
      const char* p = text.data() + start + i * message::kMaskBlock;
      Require(line_ends[i] == message::LineEndMaskBytewise(p, message::kMaskBlock),
              "line end masks of a batch");
      Require(unprintable[i] == message::UnprintableMaskBytewise(p, message::kMaskBlock),
              "unprintable masks of a batch");
    }
  }
  const std::size_t n = std::min(text.size(), message::kMaskBlock - 1);
  Require(message::LineEndMaskTail(text.data(), n) == message::LineEndMaskBytewise(text.data(), n),
          "line end mask of a tail");
  Require(message::UnprintableMaskTail(text.data(), n) ==
              message::UnprintableMaskBytewise(text.data(), n),
          "unprintable mask of a tail");
}

// The wire lines one at a time: CR LF, a lone CR and a lone LF each end a line.
std::string WireLinesOneByOne(std::string_view text, bool line_start) {
  std::string out;
  std::size_t at = 0;
  for (;;) {
    std::size_t end = at;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    if (line_start && end > at && text[at] == '.') out += '.';
    out.append(text.substr(at, end - at));
    out += "\r\n";
    if (end == text.size()) return out;
    at = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    line_start = true;
  }
}

struct Plain {
  bool long_line = false;
  bool control = false;
  bool eight_bit = false;
};

Plain CountPlainly(std::string_view text) {
  Plain plain;
  std::size_t length = 0;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b == '\r' || b == '\n') {
      length = 0;
      continue;
    }
    plain.long_line = plain.long_line || ++length > 998;
    plain.control = plain.control || ((b < 32 || b == 127) && b != '\t' && b != '\f');
    plain.eight_bit = plain.eight_bit || b > 127;
  }
  return plain;
}

bool IsUtf8CharByChar(std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = message::DecodeUtf8(text).length;
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tovrel;
  FuzzedDataProvider input(data, size);
  const bool line_start = input.ConsumeBool();
  const std::size_t cut = input.ConsumeIntegral<std::uint16_t>();
  const std::string text = input.ConsumeRemainingBytesAsString();
  fuzz::CheckMasks(text);

  const std::string expected = fuzz::WireLinesOneByOne(text, line_start);
  std::string out(net::WireLinesBound(text.size()), '\0');
  out.resize(net::WriteWireLines(text, line_start, out.data()));
  fuzz::Require(out == expected, "wire lines made in one go");

  net::TextScan whole;
  whole.Add(text);
  // A scan begins at the start of a line.
  const auto wire_size = static_cast<std::int64_t>(fuzz::WireLinesOneByOne(text, true).size());
  fuzz::Require(whole.wire_size() == wire_size, "wire size");

  // Cut where it cannot split a line end, as a body file's pieces are.
  const std::size_t at = std::min({cut, text.find_first_of("\r\n"), text.size()});
  net::TextScan cut_scan;
  cut_scan.AddPiece(std::string_view(text).substr(0, at), false);
  cut_scan.AddPiece(std::string_view(text).substr(at), true);
  const fuzz::Plain plain = fuzz::CountPlainly(text);
  for (const net::TextScan* scan : {&whole, &cut_scan}) {
    const net::TextPlan plan = scan->Plan(false);
    fuzz::Require(plan.eight_bit == plain.eight_bit, "8-bit bytes seen");
    fuzz::Require((plan.form == net::TextForm::tfQuotedPrintable) ==
                      (plain.long_line || plain.control || plain.eight_bit),
                  "plan");
  }
  fuzz::Require(cut_scan.wire_size() == whole.wire_size(), "wire size of pieces");

  fuzz::Require(message::IsValidUtf8(text) == fuzz::IsUtf8CharByChar(text), "UTF-8 check");
  return 0;
}
