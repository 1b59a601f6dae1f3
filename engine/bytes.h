// Byte work on the per-line path: finding a byte (lines are short, where a
// call of memchr costs more than the search, and at times long, where
// memchr's wide loop wins), copying short texts, and reading code bytes as
// big-endian words.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorbel {

// The first `byte` in [from, to), or `to` when there is none. Reads no byte
// outside the range.
[[nodiscard]] inline const char* find_byte(const char* from, const char* to, char byte) noexcept {
#if defined(__SSE2__)
  // The first 64 bytes, 16 at a time, here; what is further off, by memchr.
  const __m128i wanted = _mm_set1_epi8(byte);
  for (int round = 0; round < 4 && to - from >= 16; ++round, from += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted));
    if (hits != 0) return from + __builtin_ctz(static_cast<unsigned>(hits));
  }
  if (to - from < 16) {
    while (from != to && *from != byte) ++from;
    return from;
  }
#endif
  const void* found = std::memchr(from, byte, static_cast<std::size_t>(to - from));
  return found == nullptr ? to : static_cast<const char*>(found);
}

// memcpy for the short texts of lines and codes, without a call: a copy of
// up to 32 bytes is two overlapping ones of a fixed size.
inline void copy_bytes(void* to, const void* from, std::size_t count) noexcept {
  auto* const d = static_cast<char*>(to);
  const auto* const s = static_cast<const char*>(from);
  if (count >= 16 && count <= 32) {
    std::memcpy(d, s, 16);
    std::memcpy(d + count - 16, s + count - 16, 16);
  } else if (count >= 8 && count < 16) {
    std::memcpy(d, s, 8);
    std::memcpy(d + count - 8, s + count - 8, 8);
  } else if (count >= 4 && count < 8) {
    std::memcpy(d, s, 4);
    std::memcpy(d + count - 4, s + count - 4, 4);
  } else if (count < 4) {
    for (std::size_t i = 0; i < count; ++i) d[i] = s[i];
  } else {
    std::memcpy(d, s, count);
  }
}

// The first `count` bytes (at most 8) at `bytes` as the high bytes of a
// word, the rest zero.
[[nodiscard]] inline std::uint64_t big_endian_word(const std::uint8_t* bytes,
                                                   std::size_t count) noexcept {
  std::uint64_t word = 0;
  std::memcpy(&word, bytes, count);
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
  return word;
}

}  // namespace quorbel
