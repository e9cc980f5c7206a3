// EncodeHeaderText micro-benchmarks: subjects as users write them, plain ASCII (nothing to
// encode), with some UTF-8 words (Q encoding, the usual choice) and the same in B encoding.

#include <benchmark/benchmark.h>

#include <string>

#include "message/header_generation.h"
#include "micro/inputs.h"

namespace tovrel::bench {
namespace {

void EncodeSubject(benchmark::State& state, int eight_bit_every, char letter) {
  const std::string subject = WordsText(static_cast<std::size_t>(state.range(0)), eight_bit_every);
  for (auto _ : state) {
    std::string encoded = message::EncodeHeaderText(subject, "", letter, message::tx8Bit, "UTF-8");
    benchmark::DoNotOptimize(encoded.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(subject.size()));
}

void BM_EncodeHeaderTextAscii(benchmark::State& state) { EncodeSubject(state, 0, 'Q'); }
BENCHMARK(BM_EncodeHeaderTextAscii)->Arg(60)->Arg(1000);

void BM_EncodeHeaderTextQ(benchmark::State& state) { EncodeSubject(state, 3, 'Q'); }
BENCHMARK(BM_EncodeHeaderTextQ)->Arg(60)->Arg(1000);

void BM_EncodeHeaderTextB(benchmark::State& state) { EncodeSubject(state, 3, 'B'); }
BENCHMARK(BM_EncodeHeaderTextB)->Arg(60)->Arg(1000);

}  // namespace
}  // namespace tovrel::bench
