// Finding a byte in a text, for the per-line work: lines and fields are
// short, where a call of memchr costs more than the search, and at times
// long, where memchr's wide loop wins.
#pragma once

#include <cstddef>
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

}  // namespace quorbel
