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

// The field'th field (1-based) of [from, to) split at every `separator`:
// its start in *start and its end in *stop, or false when there are fewer.
// Reads no byte outside the range.
[[nodiscard]] inline bool find_field_bytes(const char* from, const char* to, char separator,
                                           long field, const char** start,
                                           const char** stop) noexcept {
  const char* field_start = from;
  long passed = 0;  // separators behind
  const char* at = from;
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi8(separator);
  for (; to - at >= 16; at += 16) {
    auto hits = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), wanted)));
    for (; hits != 0; hits &= hits - 1) {
      const char* found = at + __builtin_ctz(hits);
      if (passed == field - 1) {
        *start = field_start;
        *stop = found;
        return true;
      }
      ++passed;
      field_start = found + 1;
    }
  }
#endif
  for (; at != to; ++at) {
    if (*at != separator) continue;
    if (passed == field - 1) {
      *start = field_start;
      *stop = at;
      return true;
    }
    ++passed;
    field_start = at + 1;
  }
  if (passed != field - 1) return false;
  *start = field_start;
  *stop = to;
  return true;
}

}  // namespace quorbel
