// Version fields seen lately, each under a slot of its own with the code its
// line was given: package lists name a few popular versions over and over,
// and a line whose field is found here takes that code without parsing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "engine/bytes.h"
#include "version/internal.h"

namespace quorbel {

class known_fields {
 public:
  static constexpr std::size_t SLOTS = 512;
  static constexpr std::size_t LONGEST = 24;  // longer fields are not kept
  static constexpr std::size_t LONGEST_CODE = longest_order_code(LONGEST);
  static constexpr std::size_t NO_SLOT = SIZE_MAX;

  // The slot of a field: the one place it is looked for and kept.
  [[nodiscard]] static std::size_t slot_of(std::string_view field) noexcept {
    const std::size_t n = field.size();
    if (n == 0 || n > LONGEST) return NO_SLOT;
    // Its first and last eight bytes, or four, or its first, middle and
    // last byte: with the length, any two fields of up to 16 bytes that
    // differ, differ here.
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
    if (n >= 8) {
      std::memcpy(&head, field.data(), 8);
      std::memcpy(&tail, field.data() + n - 8, 8);
    } else if (n >= 4) {
      std::uint32_t first = 0;
      std::uint32_t last = 0;
      std::memcpy(&first, field.data(), 4);
      std::memcpy(&last, field.data() + n - 4, 4);
      head = first;
      tail = last;
    } else {
      const auto byte = [&](std::size_t i) -> std::uint64_t {
        return static_cast<unsigned char>(field[i]);
      };
      head = byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16;
    }
    const std::uint64_t mixed = (head * 0x9E3779B97F4A7C15u) ^ (tail * 0xC2B2AE3D27D4EB4Fu) ^ n;
    return static_cast<std::size_t>((mixed * 0xFF51AFD7ED558CCDu) >> 55);  // 9 bits: SLOTS
  }

  // Whether looking fields up is worth it: where few are found (lists of
  // distinct versions), it costs more than it saves. A stretch of lookups
  // that finds fewer than one in eight stops them until the next block.
  [[nodiscard]] bool worth_looking() const noexcept { return worth_looking_; }
  void start_block() noexcept {
    looked_ = found_ = 0;
    worth_looking_ = true;
  }

  // True when `slot` (from slot_of) holds exactly this field, and its code.
  [[nodiscard]] bool holds(std::size_t slot, std::string_view field) noexcept {
    entry& e = entries_[slot];
    const bool found = e.size == field.size() && e.code_length != 0 &&
                       std::memcmp(e.bytes, field.data(), field.size()) == 0;
    if (found && e.hits < MOST_HITS) ++e.hits;
    found_ += found ? 1 : 0;
    if (++looked_ == STRETCH) {
      worth_looking_ = found_ >= STRETCH / 8;
      looked_ = found_ = 0;
    }
    return found;
  }

  // The code kept with the field a slot holds.
  [[nodiscard]] const std::uint8_t* code(std::size_t slot) const noexcept {
    return entries_[slot].code;
  }
  [[nodiscard]] std::size_t code_length(std::size_t slot) const noexcept {
    return entries_[slot].code_length;
  }

  // Keeps a field that was not found in its slot, unless the field there
  // has been found again more often lately than others came to take it:
  // true when it is kept. So a popular version is not pushed out by a
  // crowd of others that come once. The field is found once its code is
  // kept too.
  [[nodiscard]] bool keep(std::size_t slot, std::string_view field) noexcept {
    entry& e = entries_[slot];
    if (e.hits > 0) {
      --e.hits;
      return false;
    }
    copy_bytes(e.bytes, field.data(), field.size());
    e.size = static_cast<std::uint8_t>(field.size());
    e.code_length = 0;
    return true;
  }

  // Keeps the code of the field just kept in the slot: the code of a
  // version of at most LONGEST bytes, without a prefix.
  void keep_code(std::size_t slot, const std::uint8_t* code, std::size_t length) noexcept {
    if (length > LONGEST_CODE) return;  // never so long; the field is then not found
    entry& e = entries_[slot];
    copy_bytes(e.code, code, length);
    e.code_length = static_cast<std::uint8_t>(length);
  }

 private:
  static_assert(SLOTS == std::size_t{1} << 9, "slot_of keeps 9 bits");
  static constexpr std::uint8_t MOST_HITS = 3;
  struct entry {
    std::uint8_t size = 0;  // 0: empty, as no kept field is
    std::uint8_t hits = 0;
    std::uint8_t code_length = 0;  // 0: no code kept, as no code is so short
    char bytes[LONGEST];
    std::uint8_t code[LONGEST_CODE];
  };
  static_assert(LONGEST_CODE <= UINT8_MAX);
  entry entries_[SLOTS];
  static constexpr std::size_t STRETCH = 1024;  // lookups judged together
  std::size_t looked_ = 0;                      // in this stretch
  std::size_t found_ = 0;
  bool worth_looking_ = true;
};

}  // namespace quorbel
