#include "message/coders/base64_kernels.h"

#include <array>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#define TOVREL_BASE64_X86 1
#endif

namespace tovrel::message {

void PackGroups(const char* table, std::string_view bytes, char* o) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3, o += 4) PackGroup(table, p[i], p[i + 1], p[i + 2], o);
  if (i < n) PackGroup(table, p[i], i + 1 < n ? p[i + 1] : 0, 0, o);
}

namespace {

void EncodeScalar(const unsigned char* in, std::size_t n, std::size_t, char* out) {
  PackGroups(kBase64Alphabet.data(), {reinterpret_cast<const char*>(in), n}, out);
}

#ifdef TOVREL_BASE64_X86

// Both vector kernels work on 32-bit lanes that each hold one group as the bytes b a c b (a b c
// being the group), so that two multiplications move the four 6-bit fields into four bytes, and
// then map the values 0..63 to the alphabet by adding an offset chosen per range of values.

__attribute__((target("ssse3"))) inline __m128i Ssse3Indices(__m128i in) {
  in = _mm_shuffle_epi8(in, _mm_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10));
  const __m128i t0 = _mm_and_si128(in, _mm_set1_epi32(0x0fc0fc00));
  const __m128i t1 = _mm_mulhi_epu16(t0, _mm_set1_epi32(0x04000040));
  const __m128i t2 = _mm_and_si128(in, _mm_set1_epi32(0x003f03f0));
  const __m128i t3 = _mm_mullo_epi16(t2, _mm_set1_epi32(0x01000010));
  return _mm_or_si128(t1, t3);
}

__attribute__((target("ssse3"))) inline __m128i Ssse3Characters(__m128i indices) {
  // 0..25 -> 13 (upper case), 26..51 -> 0 (lower case), 52..61 -> 1..10 (digits), 62, 63 -> 11, 12.
  __m128i range = _mm_subs_epu8(indices, _mm_set1_epi8(51));
  const __m128i upper = _mm_cmpgt_epi8(_mm_set1_epi8(26), indices);
  range = _mm_or_si128(range, _mm_and_si128(upper, _mm_set1_epi8(13)));
  const __m128i offsets =
      _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                    '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
  return _mm_add_epi8(_mm_shuffle_epi8(offsets, range), indices);
}

__attribute__((target("ssse3"))) inline void Ssse3Step(const unsigned char* in, char* out) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), Ssse3Characters(Ssse3Indices(bytes)));
}

// The whole groups that a vector step of `step` bytes (loading `load`) cannot take at the end
// are taken by one more step that overlaps the last, coding some groups twice to the same
// characters, when the load stays within what is readable. Returns the bytes coded.
template <std::size_t kStep, std::size_t kLoad, class Step>
__attribute__((always_inline)) inline std::size_t Steps(const unsigned char* in, std::size_t n,
                                                        std::size_t readable, char* out,
                                                        Step step) {
  const std::size_t whole = n / 3 * 3;
  std::size_t i = 0;
  for (; i + kStep <= whole && i + kLoad <= readable; i += kStep) step(in + i, out + i / 3 * 4);
  if (i < whole && whole >= kStep && whole - kStep + kLoad <= readable) {
    step(in + whole - kStep, out + (whole - kStep) / 3 * 4);
    i = whole;
  }
  return i;
}

__attribute__((target("ssse3"))) void EncodeSsse3(const unsigned char* in, std::size_t n,
                                                  std::size_t readable, char* out) {
  const std::size_t i = Steps<12, 16>(in, n, readable, out, Ssse3Step);
  EncodeScalar(in + i, n - i, readable - i, out + i / 3 * 4);
}

__attribute__((target("avx2"))) inline void Avx2Step(const unsigned char* in, char* out) {
  const __m256i order = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10,  //
                                         1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
  const __m256i offsets =
      _mm256_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                       '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0,  //
                       'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                       '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
  // Each half takes 12 of 16 loaded bytes; the second half's load ends 28 bytes on.
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12));
  __m256i v = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
  v = _mm256_shuffle_epi8(v, order);
  const __m256i t0 = _mm256_and_si256(v, _mm256_set1_epi32(0x0fc0fc00));
  const __m256i t1 = _mm256_mulhi_epu16(t0, _mm256_set1_epi32(0x04000040));
  const __m256i t2 = _mm256_and_si256(v, _mm256_set1_epi32(0x003f03f0));
  const __m256i t3 = _mm256_mullo_epi16(t2, _mm256_set1_epi32(0x01000010));
  const __m256i indices = _mm256_or_si256(t1, t3);
  __m256i range = _mm256_subs_epu8(indices, _mm256_set1_epi8(51));
  const __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), indices);
  range = _mm256_or_si256(range, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
  const __m256i chars = _mm256_add_epi8(_mm256_shuffle_epi8(offsets, range), indices);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), chars);
}

__attribute__((target("avx2"))) void EncodeAvx2(const unsigned char* in, std::size_t n,
                                                std::size_t readable, char* out) {
  const std::size_t i = Steps<24, 28>(in, n, readable, out, Avx2Step);
  if (i < n) EncodeSsse3(in + i, n - i, readable - i, out + i / 3 * 4);
}

#endif

struct KernelSet {
  std::array<Base64Kernel, 3> kernels{};
  std::size_t count = 0;

  KernelSet() {
    kernels[count++] = {"scalar", EncodeScalar};
#ifdef TOVREL_BASE64_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("ssse3")) {
      kernels[count++] = {"ssse3", EncodeSsse3};
      if (__builtin_cpu_supports("avx2")) kernels[count++] = {"avx2", EncodeAvx2};
    }
#endif
  }
};

const KernelSet& Kernels() {
  static const KernelSet set;
  return set;
}

}  // namespace

std::span<const Base64Kernel> Base64Kernels() {
  return std::span<const Base64Kernel>(Kernels().kernels.data(), Kernels().count);
}

void EncodeBase64Groups(const unsigned char* in, std::size_t n, std::size_t readable, char* out) {
  static const Base64GroupsFunction fastest = Base64Kernels().back().encode;
  fastest(in, n, readable, out);
}

}  // namespace tovrel::message
