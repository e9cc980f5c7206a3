// Header-side micro-benchmarks: folding a long field into a header list and parsing the address
// lists the user types. Each reports the bytes of input it handles per second.

#include <benchmark/benchmark.h>

#include <string>

#include "message/email_address.h"
#include "message/header_list.h"
#include "micro/inputs.h"

namespace tovrel::bench {
namespace {

// A long To field (many mailboxes with display names) set into a fresh list: folding at 78
// columns with quoted stretches that must not be broken.
void BM_HeaderListSetHeaderFolding(benchmark::State& state) {
  const std::string value = MailboxListText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    message::HeaderList list;
    list.SetHeader("Subject", "Monthly report");
    list.SetHeader("To", value);
    benchmark::DoNotOptimize(list.count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(value.size()));
}
BENCHMARK(BM_HeaderListSetHeaderFolding)->Arg(3)->Arg(100);

// Replacing an existing folded field: the old continuation lines go, the new ones come in place.
void BM_HeaderListReplaceFolded(benchmark::State& state) {
  const std::string value = WordsText(1000, 1);
  message::HeaderList list;
  list.SetHeader("From", "\"Jane Doe\" <jane@example.org>");
  list.SetHeader("Subject", value);
  list.SetHeader("Date", "Tue, 03 Jun 2025 10:00:00 +0200");
  for (auto _ : state) {
    list.SetHeader("Subject", value);
    benchmark::DoNotOptimize(list.count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(value.size()));
}
BENCHMARK(BM_HeaderListReplaceFolded);

// What the send command does with the To, CC and BCC fields.
void BM_LoadFromText(benchmark::State& state) {
  const std::string text = MailboxListText(static_cast<int>(state.range(0)));
  message::EmailAddressList list;
  for (auto _ : state) {
    list.LoadFromText(text);
    benchmark::DoNotOptimize(list.count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_LoadFromText)->Arg(3)->Arg(100);

}  // namespace
}  // namespace tovrel::bench
