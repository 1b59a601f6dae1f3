// The code a line is sorted by: the order code of its version, after a
// prefix that ranks first when the lines have one. The command sorts lines
// in groups by giving each the bytes of a field as its prefix; the engine
// knows only that a prefix holds no zero byte.
#pragma once

#include <quorbel/version.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "engine/bytes.h"
#include "version/internal.h"

namespace quorbel {

// The longest text the engine holds, in bytes before its newline; whoever
// hands lines to it keeps them this short.
inline constexpr std::size_t MAX_TEXT_LENGTH = 4095;

// The longest prefix: a text the engine holds is no longer.
inline constexpr std::size_t MAX_CODE_PREFIX = MAX_TEXT_LENGTH;

// A prefixed code is the prefix, a zero byte, then the order code. As no
// prefix holds a zero byte, byte order puts the prefixes in their byte
// order first (a prefix before the longer ones it starts), and the versions
// of one prefix in order after it; -r inverts the order code alone.
inline constexpr std::size_t MAX_LINE_CODE = MAX_CODE_PREFIX + 1 + MAX_ORDER_CODE;
// Room for writing a line's code, as ORDER_CODE_ROOM is for an order code.
inline constexpr std::size_t LINE_CODE_ROOM = MAX_CODE_PREFIX + 1 + ORDER_CODE_ROOM;

// Writes the code of a line to out (LINE_CODE_ROOM bytes) and returns its
// length; the bytes after it are zero up to the 24th at least, as
// encode_order_code leaves them. The prefix is at most MAX_CODE_PREFIX bytes.
[[nodiscard]] inline std::size_t encode_line_code(std::optional<std::string_view> prefix,
                                                  const version_view& version, bool descending,
                                                  std::uint8_t* out) noexcept {
  std::size_t at = 0;
  if (prefix) {
    copy_bytes(out, prefix->data(), prefix->size());
    out[prefix->size()] = 0;
    at = prefix->size() + 1;
  }
  return at + encode_order_code(version, descending, out + at);
}

// The bytes of a prefixed code up to its prefix's zero byte, that included.
[[nodiscard]] inline std::size_t prefix_length(const std::uint8_t* code,
                                               std::size_t length) noexcept {
  const void* zero = std::memchr(code, 0, length);
  return zero == nullptr
             ? length
             : static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - code) + 1;
}

}  // namespace quorbel
