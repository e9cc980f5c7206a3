#include "message/byte_masks.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define TOVREL_BYTE_MASKS_AVX2 1
#endif

namespace tovrel::message {
namespace {

using MasksFunction = void (*)(const char*, std::size_t, std::uint64_t*);

void LineEndMasksInline(const char* p, std::size_t count, std::uint64_t* masks) {
  for (std::size_t i = 0; i < count; ++i) masks[i] = LineEndMask(p + i * kMaskBlock);
}

void UnprintableMasksInline(const char* p, std::size_t count, std::uint64_t* masks) {
  for (std::size_t i = 0; i < count; ++i) masks[i] = UnprintableMask(p + i * kMaskBlock);
}

std::size_t AsciiPrefixInline(std::string_view text) {
  std::size_t at = 0;
  while (text.size() - at >= kMaskBlock && !AnyEightBit(text.data() + at)) at += kMaskBlock;
  while (at < text.size() && static_cast<unsigned char>(text[at]) < 128) ++at;
  return at;
}

#ifdef TOVREL_BYTE_MASKS_AVX2

// Four blocks at a time: one test of their bytes' high bits together.
__attribute__((target("avx2"))) std::size_t AsciiPrefixAvx2(std::string_view text) {
  const char* p = text.data();
  std::size_t at = 0;
  for (; text.size() - at >= 4 * kMaskBlock; at += 4 * kMaskBlock) {
    __m256i all = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + at));
    for (std::size_t i = 32; i < 4 * kMaskBlock; i += 32) {
      all = _mm256_or_si256(all, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + at + i)));
    }
    if (_mm256_movemask_epi8(all) != 0) break;
  }
  return at + AsciiPrefixInline(text.substr(at));
}

__attribute__((target("avx2"))) inline std::uint64_t Join(__m256i low, __m256i high) {
  return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(low))) |
         static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(high))) << 32;
}

__attribute__((target("avx2"))) inline __m256i Load32(const char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2"))) inline __m256i LineEnds32(const char* p) {
  const __m256i v = Load32(p);
  return _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r')),
                         _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n')));
}

// As the inline kernel: one added leaves only printable ASCII above 32, signed.
__attribute__((target("avx2"))) inline __m256i Unprintable32(const char* p) {
  return _mm256_cmpgt_epi8(_mm256_set1_epi8(33), _mm256_add_epi8(Load32(p), _mm256_set1_epi8(1)));
}

__attribute__((target("avx2"))) void LineEndMasksAvx2(const char* p, std::size_t count,
                                                      std::uint64_t* masks) {
  for (std::size_t i = 0; i < count; ++i, p += kMaskBlock) {
    masks[i] = Join(LineEnds32(p), LineEnds32(p + 32));
  }
}

__attribute__((target("avx2"))) void UnprintableMasksAvx2(const char* p, std::size_t count,
                                                          std::uint64_t* masks) {
  for (std::size_t i = 0; i < count; ++i, p += kMaskBlock) {
    masks[i] = Join(Unprintable32(p), Unprintable32(p + 32));
  }
}

#endif

struct Kernels {
  Kernels() {
#ifdef TOVREL_BYTE_MASKS_AVX2
    if (__builtin_cpu_supports("avx2")) {
      line_ends = LineEndMasksAvx2;
      unprintable = UnprintableMasksAvx2;
      ascii_prefix = AsciiPrefixAvx2;
    }
#endif
  }
  MasksFunction line_ends = LineEndMasksInline;
  MasksFunction unprintable = UnprintableMasksInline;
  std::size_t (*ascii_prefix)(std::string_view) = AsciiPrefixInline;
};

const Kernels& Chosen() {
  static const Kernels kernels;
  return kernels;
}

}  // namespace

void LineEndMasks(const char* p, std::size_t count, std::uint64_t* masks) {
  Chosen().line_ends(p, count, masks);
}

void UnprintableMasks(const char* p, std::size_t count, std::uint64_t* masks) {
  Chosen().unprintable(p, count, masks);
}

std::size_t AsciiPrefix(std::string_view text) { return Chosen().ascii_prefix(text); }

}  // namespace tovrel::message
