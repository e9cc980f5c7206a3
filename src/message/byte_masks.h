#pragma once

// Classes of bytes in a block of 64 at once, as one bit per byte (bit i for byte i), for the
// passes over text that runs to megabytes (a body file): most blocks hold none of the bytes that
// need a closer look, and a block that does shows where they are without a byte-by-byte search.
// SSE2 is part of every x86-64 processor; other machines take the portable loop, which gives the
// same bits.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#define TOVREL_BYTE_MASKS_SSE2 1
#endif

namespace tovrel::message {

inline constexpr std::size_t kMaskBlock = 64;

namespace byte_masks_detail {

template <class Test>
std::uint64_t PortableMask(const char* p, std::size_t n, Test test) {
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (test(static_cast<unsigned char>(p[i]))) bits |= std::uint64_t{1} << i;
  }
  return bits;
}

#ifdef TOVREL_BYTE_MASKS_SSE2
inline std::uint64_t Join(__m128i a, __m128i b, __m128i c, __m128i d) {
  return static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(a))) |
         static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(b))) << 16 |
         static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(c))) << 32 |
         static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(d))) << 48;
}

inline __m128i Load(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

inline __m128i LineEnds16(const char* p) {
  const __m128i v = Load(p);
  return _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')),
                      _mm_cmpeq_epi8(v, _mm_set1_epi8('\n')));
}

// One added takes bytes 0 to 31 to 1 to 32 and DEL and the 8-bit bytes below zero (signed),
// leaving printable ASCII alone above 32.
inline __m128i Unprintable16(const char* p) {
  return _mm_cmplt_epi8(_mm_add_epi8(Load(p), _mm_set1_epi8(1)), _mm_set1_epi8(33));
}
#endif

}  // namespace byte_masks_detail

inline bool IsLineEndByte(unsigned char b) { return b == '\r' || b == '\n'; }
inline bool IsUnprintableByte(unsigned char b) { return b < 32 || b > 126; }

// The CRs and LFs among the kMaskBlock bytes at `p`.
inline std::uint64_t LineEndMask(const char* p) {
#ifdef TOVREL_BYTE_MASKS_SSE2
  using namespace byte_masks_detail;
  return Join(LineEnds16(p), LineEnds16(p + 16), LineEnds16(p + 32), LineEnds16(p + 48));
#else
  return byte_masks_detail::PortableMask(p, kMaskBlock, IsLineEndByte);
#endif
}

// The bytes among the kMaskBlock at `p` that are not printable ASCII (32 to 126): control
// characters, line ends included, DEL and 8-bit bytes.
inline std::uint64_t UnprintableMask(const char* p) {
#ifdef TOVREL_BYTE_MASKS_SSE2
  using namespace byte_masks_detail;
  return Join(Unprintable16(p), Unprintable16(p + 16), Unprintable16(p + 32),
              Unprintable16(p + 48));
#else
  return byte_masks_detail::PortableMask(p, kMaskBlock, IsUnprintableByte);
#endif
}

// Whether any of the kMaskBlock bytes at `p` is above 127.
inline bool AnyEightBit(const char* p) {
#ifdef TOVREL_BYTE_MASKS_SSE2
  using namespace byte_masks_detail;
  const __m128i all =
      _mm_or_si128(_mm_or_si128(Load(p), Load(p + 16)), _mm_or_si128(Load(p + 32), Load(p + 48)));
  return _mm_movemask_epi8(all) != 0;
#else
  std::uint64_t all = 0;
  for (std::size_t i = 0; i < kMaskBlock; i += sizeof all) {
    std::uint64_t word;
    std::memcpy(&word, p + i, sizeof word);
    all |= word;
  }
  return (all & 0x8080808080808080ULL) != 0;
#endif
}

// The same, byte by byte, for the `n` bytes (up to kMaskBlock) at `p`: the end of a text, which a
// block must not read past.
inline std::uint64_t LineEndMaskBytewise(const char* p, std::size_t n) {
  return byte_masks_detail::PortableMask(p, n, IsLineEndByte);
}
inline std::uint64_t UnprintableMaskBytewise(const char* p, std::size_t n) {
  return byte_masks_detail::PortableMask(p, n, IsUnprintableByte);
}

// The same for the last `n` (fewer than kMaskBlock) bytes of a text, without reading past them:
// they are copied into a block of spaces, which are printable and no line end.
inline std::uint64_t LineEndMaskTail(const char* p, std::size_t n) {
  char block[kMaskBlock];
  std::memset(block, ' ', sizeof block);
  std::memcpy(block, p, n);
  return LineEndMask(block);
}
inline std::uint64_t UnprintableMaskTail(const char* p, std::size_t n) {
  char block[kMaskBlock];
  std::memset(block, ' ', sizeof block);
  std::memcpy(block, p, n);
  return UnprintableMask(block);
}

// The masks of `count` whole blocks at `p`, one to each element of `masks`, made by the fastest
// kernel the processor runs (AVX2 where it has it, asked once): for passes that go on for many
// blocks, where a call per batch costs less than the narrower steps of the inline ones.
void LineEndMasks(const char* p, std::size_t count, std::uint64_t* masks);
void UnprintableMasks(const char* p, std::size_t count, std::uint64_t* masks);

// The length of the run of ASCII (bytes below 128) that `text` begins with, found by the fastest
// kernel the processor runs.
std::size_t AsciiPrefix(std::string_view text);

// How many blocks a pass asks masks for at once: few enough to stay in the first-level cache.
inline constexpr std::size_t kMaskBatch = 32;

// Calls `take(block, mask)` for every block of `text`, first to last, with `block` the offset of
// its first byte: `Masks` makes the masks of whole blocks, `tail` the mask of the last, shorter
// one.
template <class Take>
__attribute__((always_inline)) inline void ForEachMask(
    std::string_view text, void (*masks_of)(const char*, std::size_t, std::uint64_t*),
    std::uint64_t (*tail)(const char*, std::size_t), Take take) {
  std::uint64_t masks[kMaskBatch];
  const std::size_t whole = text.size() / kMaskBlock;
  std::size_t block = 0;
  for (std::size_t done = 0; done < whole;) {
    const std::size_t count = std::min(whole - done, kMaskBatch);
    masks_of(text.data() + block, count, masks);
    for (std::size_t i = 0; i < count; ++i, block += kMaskBlock) take(block, masks[i]);
    done += count;
  }
  if (block < text.size()) take(block, tail(text.data() + block, text.size() - block));
}

}  // namespace tovrel::message
