// Hashing versions by their precedence, so that versions equal by
// version_compare hash alike.
#include "version/internal.h"

namespace quorbel {

namespace {

// 64-bit FNV-1a over the bytes that decide precedence, then a finishing mix
// so that the low bits, which hash tables use, depend on every byte.
class precedence_hash {
 public:
  void add(std::string_view bytes) noexcept {
    for (char c : bytes) {
      state_ = (state_ ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
  }
  void add_number(std::int32_t n) noexcept {
    const auto bits = static_cast<std::uint32_t>(n);
    const char bytes[4] = {static_cast<char>(bits), static_cast<char>(bits >> 8),
                           static_cast<char>(bits >> 16), static_cast<char>(bits >> 24)};
    add({bytes, 4});
  }
  std::size_t value() const noexcept {
    std::uint64_t h = state_;
    h = (h ^ (h >> 33)) * 0xff51afd7ed558ccdULL;
    h = (h ^ (h >> 33)) * 0xc4ceb33fe1a85ec9ULL;
    return static_cast<std::size_t>(h ^ (h >> 33));
  }

 private:
  std::uint64_t state_ = 0xcbf29ce484222325ULL;
};

// A missing fourth is 0 already; the build and the raw text never count.
// Each pre-release identifier counts as compare_identifiers sees it: a
// number by its sign and significant digits (07 is 7, an empty one 0), a
// word by its bytes.
std::size_t hash_of(const std::int32_t (&numbers)[4],
                    std::optional<std::string_view> prerelease) noexcept {
  precedence_hash h;
  for (std::int32_t n : numbers) h.add_number(n);
  if (!prerelease) return h.value();
  h.add("-");
  std::string_view rest = until_zero(*prerelease);
  for (;;) {
    const std::size_t dot = rest.find('.');
    const prerelease_identifier id = read_identifier(rest.substr(0, dot));
    h.add(!id.numeric ? "w" : id.negative ? "n" : "p");
    h.add(id.text);
    h.add(".");  // no identifier holds a dot, so this ends it unmistakably
    if (dot == std::string_view::npos) return h.value();
    rest.remove_prefix(dot + 1);
  }
}

}  // namespace

std::size_t version_hash(const version_record& version) noexcept {
  return version_hash(version_view_of(version));
}

std::size_t version_hash(const version_view& version) noexcept {
  const std::int32_t numbers[4] = {version.major, version.minor, version.patch, version.fourth};
  return hash_of(numbers, version.prerelease);
}

}  // namespace quorbel
