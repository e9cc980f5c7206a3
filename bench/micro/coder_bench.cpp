// Coder micro-benchmarks: the attachment path as the message writer drives it (57-byte pieces
// through the base64 encoder, each finished into one 76-character line with CR LF) and the
// quoted-printable encoding of body lines. Each reports input bytes per second.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "message/coders/coder.h"
#include "message/coders/coder_registry.h"
#include "message/string_helpers.h"
#include "micro/inputs.h"

namespace tovrel::bench {
namespace {

constexpr std::size_t kAttachmentBytes = 1 << 20;
constexpr std::size_t kPiece = 57;
// The encoded text goes to a spool in blocks of this size; the benchmark keeps one block.
constexpr std::size_t kSpoolBlock = 64 * 1024;

// 76 characters and CR LF per full piece, the last line shorter: a run that codes less (or
// more) than the input did not do the work it is timed for.
std::size_t ExpectedAttachmentText(std::size_t input) {
  std::size_t full = input / kPiece;
  std::size_t rest = input % kPiece;
  return full * 78 + (rest > 0 ? (rest + 2) / 3 * 4 + 2 : 0);
}

void CheckAttachmentText(benchmark::State& state, std::size_t coded, std::size_t input) {
  if (coded != ExpectedAttachmentText(input)) {
    state.SkipWithError("the encoder produced the wrong amount of text");
  }
}

std::unique_ptr<message::Coder> AttachmentEncoder() {
  auto coder = message::FindCoder("", "base64", message::CoderDirection::kEncoder)->CreateCoder();
  coder->set_discard_notices(true);
  coder->set_append_line_break(true);
  return coder;
}

// One piece through the entry interface: Feed and FinishInput return "0;" + text, the marker is
// cut off as the writer's description has it.
void CodeWithEntries(message::Coder& coder, std::string_view piece, std::string& out) {
  std::string fed = coder.Feed(piece);
  std::string finished = coder.FinishInput();
  message::CutToken(fed, ";");
  message::CutToken(finished, ";");
  out += fed;
  out += finished;
}

// One piece through the streaming interface: coded text goes straight into the caller's buffer.
void CodeAppending(message::Coder& coder, std::string_view piece, std::string& out) {
  coder.Feed(piece, out);
  coder.FinishInput(out);
}

using PieceCoder = void (*)(message::Coder&, std::string_view, std::string&);

void RunAttachment(benchmark::State& state, PieceCoder code_piece) {
  const std::string input = RandomBytes(kAttachmentBytes, 1);
  std::string spool;
  spool.reserve(kSpoolBlock + 128);
  std::size_t coded = 0;
  for (auto _ : state) {
    auto coder = AttachmentEncoder();
    coded = 0;
    for (std::size_t at = 0; at < input.size(); at += kPiece) {
      code_piece(*coder, std::string_view(input).substr(at, kPiece), spool);
      if (spool.size() >= kSpoolBlock) {
        benchmark::DoNotOptimize(spool.data());
        coded += spool.size();
        spool.clear();
      }
    }
    coded += spool.size();
    spool.clear();
  }
  CheckAttachmentText(state, coded, input.size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(input.size()));
}

void BM_AttachmentBase64Entries(benchmark::State& state) { RunAttachment(state, CodeWithEntries); }
BENCHMARK(BM_AttachmentBase64Entries);

void BM_AttachmentBase64Appending(benchmark::State& state) { RunAttachment(state, CodeAppending); }
BENCHMARK(BM_AttachmentBase64Appending);

// Reference: the same bytes in one piece, without line breaks: what the per-piece driving costs
// on top of the encoding itself.
void BM_Base64OnePiece(benchmark::State& state) {
  const std::string input = RandomBytes(kAttachmentBytes, 1);
  std::string out;
  for (auto _ : state) {
    auto coder = message::FindCoder("", "base64", message::CoderDirection::kEncoder)->CreateCoder();
    out.clear();
    coder->Feed(input, out);
    coder->FinishInput(out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(input.size()));
}
BENCHMARK(BM_Base64OnePiece);

std::vector<std::string> BodyLines(std::size_t count, std::size_t width) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < count; ++i) {
    lines.push_back(TextLine(width, static_cast<std::uint32_t>(i)) + "\r\n");
  }
  return lines;
}

std::size_t TotalSize(const std::vector<std::string>& lines) {
  std::size_t total = 0;
  for (const auto& line : lines) total += line.size();
  return total;
}

// A text part's lines as the writer encodes them: each line with its CR LF fed and finished.
void RunTextLines(benchmark::State& state, PieceCoder code_piece) {
  const auto lines = BodyLines(2000, static_cast<std::size_t>(state.range(0)));
  std::string out;
  for (auto _ : state) {
    auto coder =
        message::FindCoder("text/plain", "quoted-printable", message::CoderDirection::kEncoder)
            ->CreateCoder();
    coder->set_discard_notices(true);
    out.clear();
    for (const auto& line : lines) code_piece(*coder, line, out);
    benchmark::DoNotOptimize(out.data());
  }
  // Every line comes out as at least itself: nothing was skipped.
  if (out.size() < TotalSize(lines)) state.SkipWithError("the encoder lost text");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(TotalSize(lines)));
}

void BM_QuotedPrintableLinesEntries(benchmark::State& state) {
  RunTextLines(state, CodeWithEntries);
}
BENCHMARK(BM_QuotedPrintableLinesEntries)->Arg(80)->Arg(998);

void BM_QuotedPrintableLinesAppending(benchmark::State& state) {
  RunTextLines(state, CodeAppending);
}
BENCHMARK(BM_QuotedPrintableLinesAppending)->Arg(80);

}  // namespace
}  // namespace tovrel::bench
