// Runs: lines held as they are read, and the records they become once
// their keys are sorted.
#include "engine/run.h"

#include <algorithm>
#include <cstring>

#include "engine/run_keys.h"

namespace quorbel {

namespace {

// A run's keys start with room for this many and double.
constexpr std::size_t FIRST_KEYS = 256;

}  // namespace

bool run_builder::add(const version_view& version, std::string_view text,
                      std::optional<std::string_view> prefix) noexcept {
  code_length_ = encode_line_code(prefix, version, descending_, code_);
  return add_new_code(text);
}

bool run_builder::add_code(const std::uint8_t* code, std::size_t length,
                           std::string_view text) noexcept {
  std::memset(code_, 0, KEY_READS);  // one fixed store, then the code over it
  copy_bytes(code_, code, length);
  code_length_ = length;
  return add_new_code(text);
}

bool run_builder::add_new_code(std::string_view text) noexcept {
  if (!add_again(text)) return false;
  // A line added again has the code of the one before: only here can the
  // order change, until the lines have both risen and fallen.
  const std::size_t count = keys_.size();
  if (count > 1 && !(rises_ && falls_)) {
    const int c = compare_code_parts(keys_[count - 2], keys_[count - 1]);
    rises_ = rises_ || c > 0;
    falls_ = falls_ || c < 0;
  }
  return true;
}

bool run_builder::add_again(std::string_view text) noexcept {
  const std::size_t place = store_.size();
  const std::size_t size = PENDING_HEADER + code_length_;
  // The caller ends runs long before either limit.
  if (place > MAX_RUN_STORE - MAX_RECORD || record_bytes_ > MAX_RUN_STORE - MAX_RECORD) {
    return false;
  }
  // A run's store and keys fill as they grow.
  if (!store_.reserve(std::max(place + size, first_store_), true) ||
      !keys_.reserve(std::max(keys_.size() + 1, FIRST_KEYS), true)) {
    return false;
  }
  // Staying texts are found from the first of them, within MAX_TEXT_PLACE.
  if (may_stay_ && texts_ == nullptr) texts_ = text.data();
  const auto from_first = reinterpret_cast<std::uintptr_t>(text.data()) -
                          reinterpret_cast<std::uintptr_t>(texts_);  // wraps when before it
  const bool may_stay =
      may_stay_ && text.data()[text.size()] == terminator_ && from_first <= MAX_TEXT_PLACE;
  put_pending(store_.data() + place, code_, code_length_, text, may_stay);
  store_.resize_within(place + size);
  record_bytes_ += RECORD_HEADER + code_length_ + text.size() + 1;
  if (may_stay) {
    staying_bytes_ += text.size() + 1;
    ++staying_lines_;
  }
  keys_[keys_.size()] = make_run_key(code_, code_length_, place);
  keys_.resize_within(keys_.size() + 1);
  return true;
}

bool sort_run(run_builder* built, sorted_run* out) noexcept {
  run_key* const first = built->keys_.begin();
  run_key* const last = built->keys_.end();
  const char* const store = built->store_.data();
  sort_run_keys(first, last, store, built->rises_, built->falls_);
  // A text that stays costs its record the text's place instead; a code
  // that the line before has too costs nothing. The block is made for
  // every code, and given back what they leave.
  const bool stay = built->stay_;
  const char* const texts = built->texts_;
  const std::size_t most =
      stay ? built->record_bytes_ - built->staying_bytes_ + built->staying_lines_ * TEXT_PLACE
           : built->record_bytes_;
  const std::size_t lines = built->keys_.size();
  const std::size_t mark_count = (lines + INDEX_STEP - 1) / INDEX_STEP;
  auto* const marks =
      static_cast<std::uint32_t*>(std::malloc((mark_count == 0 ? 1 : mark_count) * 4));
  if (marks == nullptr) return false;
  record_block block;
  if (!block.make(most)) {
    std::free(marks);
    return false;
  }
  // The lines lie scattered over the store and the input: ask for them some
  // way ahead.
  constexpr std::ptrdiff_t LOOKAHEAD = 8;
  char* const records = block.data();
  char* at = records;
  const char* owner = nullptr;  // the last record that holds its code
  line_view previous;
  for (std::size_t i = 0; i < lines; ++i) {
    if (lines - i > LOOKAHEAD) {
      const char* ahead = store + place_of(first[i + LOOKAHEAD]);
      __builtin_prefetch(ahead);
      if (!stay) __builtin_prefetch(read_pending(store + place_of(first[i + LOOKAHEAD / 2])).text);
    }
    if (i % INDEX_STEP == 0) marks[i / INDEX_STEP] = static_cast<std::uint32_t>(at - records);
    block.fill_to(at);
    const line_view line = read_pending(store + place_of(first[i]));
    const bool keeps_stay = stay && line.text_elsewhere;
    if (owner != nullptr && static_cast<std::size_t>(at - owner) <= MAX_CODE_DISTANCE &&
        same_code(first[i - 1], first[i], previous, line)) {
      at += put_code_before(at, static_cast<std::size_t>(at - owner), line.text, line.text_length,
                            texts, keeps_stay, built->terminator_);
    } else {
      owner = at;
      at += put_record(at, line.code, line.code_length, line.text, line.text_length, texts,
                       keeps_stay, built->terminator_);
    }
    previous = line;
  }
  const auto size = static_cast<std::size_t>(at - records);
  *out = {block.fit(size),       size, lines, marks, stay ? built->staying_bytes_ : 0,
          stay ? texts : nullptr};
  built->clear();
  return true;
}

}  // namespace quorbel
