// The record format that runs and merges share: a held line as its order
// code and its text, one record after another in a run's block. A run is
// built of pending records, which point to texts still where they were read,
// and sorted into records, which hold their texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "engine/bytes.h"
#include "engine/line_code.h"

namespace quorbel {

// A record in a run's store: the code length and the text length, two bytes
// each, then the code, then the text with its end (a newline, or the byte
// sort_options names). A line of mapped input may instead stay where it
// lies, with its end after it: its record then ends with the text's place,
// four bytes counted from where the run's staying texts start (the run's
// `texts`), and the top bit of its text length says so.
//
// A line whose code is that of the line before it in the run, as equal
// versions in sorted order are, leaves its code out: the bit below says so,
// and the place of its code length holds how many bytes back the record
// starts whose code it shares, so that any record can be read on its own.
inline constexpr std::size_t RECORD_HEADER = 4;
inline constexpr std::size_t MAX_RECORD = RECORD_HEADER + MAX_LINE_CODE + MAX_TEXT_LENGTH + 1;
inline constexpr std::uint32_t TEXT_ELSEWHERE = std::uint32_t{1} << 31;
inline constexpr std::uint32_t CODE_BEFORE = std::uint32_t{1} << 30;
inline constexpr std::uint32_t TEXT_LENGTH_MASK = 0x3FFF;
// The farthest back a record may find its code.
inline constexpr std::size_t MAX_CODE_DISTANCE = UINT16_MAX;
// The bytes of a staying text's place, and the farthest from the start of a
// run's staying texts that one may start.
inline constexpr std::size_t TEXT_PLACE = sizeof(std::uint32_t);
inline constexpr std::size_t MAX_TEXT_PLACE = UINT32_MAX;
static_assert(MAX_LINE_CODE <= UINT16_MAX, "a code length fits its two bytes");
static_assert(MAX_TEXT_LENGTH + 1 <= TEXT_LENGTH_MASK, "a text length fits its fourteen bits");

// One line as a merge sees it: its code, and its text with its end.
struct line_view {
  const std::uint8_t* code = nullptr;
  std::size_t code_length = 0;
  const char* text = nullptr;
  std::size_t text_length = 0;
  bool text_elsewhere = false;  // the record holds where the text is, not the text
  bool own_code = true;         // the record holds the code, not a record before it
};

// The header of a record, or of a pending record (below): both lengths, or
// the distance back to the code, and whether the text lies elsewhere and
// the code before, in one word.
inline void put_header(char* at, std::size_t code_length, std::size_t text_length, bool elsewhere,
                       bool code_before = false) noexcept {
  const auto lengths = static_cast<std::uint32_t>(code_length | text_length << 16) |
                       (elsewhere ? TEXT_ELSEWHERE : 0) | (code_before ? CODE_BEFORE : 0);
  std::memcpy(at, &lengths, RECORD_HEADER);
}

// Reads the header at `at` into the line: for a record that shares the
// code of one before it, code_length is how far back that one starts.
inline void read_header(const char* at, line_view* line) noexcept {
  std::uint32_t lengths = 0;
  std::memcpy(&lengths, at, RECORD_HEADER);
  line->code_length = lengths & 0xFFFF;
  line->text_length = (lengths >> 16) & TEXT_LENGTH_MASK;
  line->text_elsewhere = (lengths & TEXT_ELSEWHERE) != 0;
  line->own_code = (lengths & CODE_BEFORE) == 0;
}

// Writes what ends a record at `at`: the place of a text that stays where
// it lies, at most MAX_TEXT_PLACE bytes after `texts`, or else the text
// itself with its end written as `end`. `text_length` counts the end.
// Returns the bytes written.
inline std::size_t put_text(char* at, const char* text, std::size_t text_length, const char* texts,
                            bool stays, char end) noexcept {
  if (stays) {
    const auto place = static_cast<std::uint32_t>(text - texts);
    std::memcpy(at, &place, TEXT_PLACE);
    return TEXT_PLACE;
  }
  copy_bytes(at, text, text_length - 1);
  at[text_length - 1] = end;
  return text_length;
}

// Writes the record of a line at `at`, its code and then its text as
// put_text does. Returns the record's size.
inline std::size_t put_record(char* at, const std::uint8_t* code, std::size_t code_length,
                              const char* text, std::size_t text_length, const char* texts,
                              bool stays, char end) noexcept {
  put_header(at, code_length, text_length, stays);
  copy_bytes(at + RECORD_HEADER, code, code_length);
  const std::size_t before_text = RECORD_HEADER + code_length;
  return before_text + put_text(at + before_text, text, text_length, texts, stays, end);
}

// Writes the record of a line whose code is that of the record `distance`
// bytes back (at most MAX_CODE_DISTANCE), its text as put_text does.
// Returns the record's size.
inline std::size_t put_code_before(char* at, std::size_t distance, const char* text,
                                   std::size_t text_length, const char* texts, bool stays,
                                   char end) noexcept {
  put_header(at, distance, text_length, stays, true);
  return RECORD_HEADER + put_text(at + RECORD_HEADER, text, text_length, texts, stays, end);
}

// The line of the record at `at`, in a run whose staying texts start at
// `texts`.
[[nodiscard]] inline line_view read_record(const char* at, const char* texts) noexcept {
  line_view line;
  read_header(at, &line);
  const char* after_code = at + RECORD_HEADER;
  if (line.own_code) {
    line.code = reinterpret_cast<const std::uint8_t*>(after_code);
    after_code += line.code_length;
  } else {
    const char* const owner = at - line.code_length;
    line_view shared;
    read_header(owner, &shared);
    line.code = reinterpret_cast<const std::uint8_t*>(owner + RECORD_HEADER);
    line.code_length = shared.code_length;
  }
  if (line.text_elsewhere) {
    std::uint32_t place = 0;
    std::memcpy(&place, after_code, TEXT_PLACE);
    line.text = texts + place;
  } else {
    line.text = after_code;
  }
  return line;
}

[[nodiscard]] inline std::size_t record_size(const line_view& line) noexcept {
  return RECORD_HEADER + (line.own_code ? line.code_length : 0) +
         (line.text_elsewhere ? TEXT_PLACE : line.text_length);
}

// A line while its run is built: the code lengths, the text's place (it
// still lies where the line was read) and the code. Sorting turns it into a
// record, the text copied after the code once, or left where it lies when
// the run leaves texts there and the pending record says it may stay
// (with TEXT_ELSEWHERE, as in a record).
inline constexpr std::size_t PENDING_HEADER = RECORD_HEADER + sizeof(const char*);

inline std::size_t put_pending(char* at, const std::uint8_t* code, std::size_t code_length,
                               std::string_view text, bool may_stay) noexcept {
  const char* const where = text.data();
  put_header(at, code_length, text.size() + 1, may_stay);
  std::memcpy(at + RECORD_HEADER, &where, sizeof where);
  copy_bytes(at + PENDING_HEADER, code, code_length);
  return PENDING_HEADER + code_length;
}

// The line of a pending record; its text_length counts the end that the
// text, where it lies, may not have.
[[nodiscard]] inline line_view read_pending(const char* at) noexcept {
  line_view line;
  read_header(at, &line);
  std::memcpy(&line.text, at + RECORD_HEADER, sizeof line.text);
  line.code = reinterpret_cast<const std::uint8_t*>(at + PENDING_HEADER);
  return line;
}

}  // namespace quorbel
