// quorbel's version library: the C++ conveniences, thin layers over the
// conventional calls: values instead of out-parameters, operators, hashing,
// formatting and searches.
// Part of quorbel/version.h, which includes it: include that header, not
// this one.
#pragma once

#ifndef QUORBEL_VERSION_H
#error "include <quorbel/version.h>, which includes this header"
#else

namespace quorbel {

// --- C++ conveniences --------------------------------------------------------

// Thin layers over the calls of version.h: values instead of out-parameters,
// operators, hashing, formatting and searches, each doing what the call it
// stands on does.

// Records compare by precedence, through version_compare, so they sort with
// std::sort and std::ranges::sort and serve as std::map keys. Equal precedence
// is not identity: the build never counts and a missing number is 0, so
// 1.2.3+a == 1.2.3+b and 1.2.3 == 1.2.3.0. Hence a weak ordering, and a map
// keyed by records keeps only the first of such versions.
[[nodiscard]] QUORBEL_EXPORT bool operator==(const version_record& x,
                                             const version_record& y) noexcept;
[[nodiscard]] QUORBEL_EXPORT std::weak_ordering operator<=>(const version_record& x,
                                                            const version_record& y) noexcept;

// Writes the text version_render makes (1.2.3.4-rc+b as 1.2.3-rc+b). When
// memory runs out it writes nothing and sets badbit on the stream.
QUORBEL_EXPORT std::ostream& operator<<(std::ostream& out, const version_record& record);
QUORBEL_EXPORT std::ostream& operator<<(std::ostream& out, const version_view& view);

// A view of the record, valid while the record lives and its texts stay.
[[nodiscard]] inline version_view version_view_of(const version_record& record) noexcept {
  const auto view = [](const std::optional<std::string>& text) {
    return text ? std::optional<std::string_view>(*text) : std::nullopt;
  };
  return {record.major,    record.minor,       record.patch,
          record.fourth,   view(record.build), view(record.prerelease),
          view(record.raw)};
}

// Views compare by precedence too, with views and with records (either side).
[[nodiscard]] inline bool operator==(const version_view& x, const version_view& y) noexcept {
  return version_compare(x, y) == 0;
}
[[nodiscard]] inline std::weak_ordering operator<=>(const version_view& x,
                                                    const version_view& y) noexcept {
  return version_compare(x, y) <=> 0;
}
[[nodiscard]] inline bool operator==(const version_view& x, const version_record& y) noexcept {
  return version_compare(x, version_view_of(y)) == 0;
}
[[nodiscard]] inline std::weak_ordering operator<=>(const version_view& x,
                                                    const version_record& y) noexcept {
  return version_compare(x, version_view_of(y)) <=> 0;
}

// How the parses below read a text: as version_parse does, or loose, first
// taking away a tag's v (version_skip_v, the command's -l).
enum class version_syntax { strict, loose };

// The version the text holds, or nothing when it holds none (or memory runs
// out). Numbers the text does not give are 0. The view's texts lie in `text`.
[[nodiscard]] inline std::optional<version_record> version_parse(
    std::string_view text, version_syntax syntax = version_syntax::strict) noexcept {
  version_record record;
  if (syntax == version_syntax::loose) text = version_skip_v(text);
  if (version_parse(text, &record) != 0) return std::nullopt;
  return record;
}
[[nodiscard]] inline std::optional<version_view> version_parse_view(
    std::string_view text, version_syntax syntax = version_syntax::strict) noexcept {
  version_view view;
  if (syntax == version_syntax::loose) text = version_skip_v(text);
  if (version_parse_view(text, &view) != 0) return std::nullopt;
  return view;
}

// The text version_render makes; empty when memory runs out.
[[nodiscard]] inline std::string to_string(const version_view& view) noexcept {
  std::string text;
  if (version_render(view, &text) != 0) return {};
  return text;
}
[[nodiscard]] inline std::string to_string(const version_record& record) noexcept {
  return to_string(version_view_of(record));
}

// version_satisfies with a bool flag, answering with a bool. Only a bool
// picks it: an int flag still calls the function above.
template <typename Version, std::same_as<bool> Flag>
requires std::same_as<Version, version_record> || std::same_as<Version, version_view>
[[nodiscard]] bool version_satisfies(const Version& version, const version_range& range,
                                     Flag include_prereleases) noexcept {
  return version_satisfies(version, range, include_prereleases ? 1 : 0) == 1;
}

namespace detail {
inline std::optional<version_view> version_in(std::string_view text) noexcept {
  return version_parse_view(text);
}
inline std::optional<version_view> version_in(const version_record& record) noexcept {
  return version_view_of(record);
}
inline std::optional<version_view> version_in(const version_view& view) noexcept { return view; }

// The first element whose version satisfies the range and ranks `wanted`
// (1 highest, -1 lowest) against every other that does.
template <typename Versions>
auto satisfying(Versions& versions, const version_range& range, bool include_prereleases,
                int wanted) noexcept -> decltype(std::begin(versions)) {
  static_assert(std::is_lvalue_reference_v<decltype(*std::begin(versions))>,
                "the versions must be held by the container, not made as it is read");
  auto found = std::end(versions);
  std::optional<version_view> best;
  for (auto at = std::begin(versions); at != std::end(versions); ++at) {
    const std::optional<version_view> v = version_in(*at);
    if (!v || version_satisfies(*v, range, include_prereleases ? 1 : 0) == 0) continue;
    if (best && version_compare(*v, *best) != wanted) continue;
    found = at;
    best = v;
  }
  return found;
}
}  // namespace detail

// The highest and the lowest version that satisfy the range, among a
// container or array of texts, records or views: an iterator to the first
// element holding it, or the end when none does. Texts that are not versions
// are passed over; pre-releases are held back unless let in.
template <typename Versions>
[[nodiscard]] auto version_max_satisfying(Versions& versions, const version_range& range,
                                          bool include_prereleases = false) noexcept
    -> decltype(std::begin(versions)) {
  return detail::satisfying(versions, range, include_prereleases, 1);
}
template <typename Versions>
[[nodiscard]] auto version_min_satisfying(Versions& versions, const version_range& range,
                                          bool include_prereleases = false) noexcept
    -> decltype(std::begin(versions)) {
  return detail::satisfying(versions, range, include_prereleases, -1);
}

}  // namespace quorbel

// Records and views hash by version_hash, which agrees with ==, so they serve
// as keys of unordered containers.
namespace std {
template <>
struct hash<quorbel::version_record> {
  size_t operator()(const quorbel::version_record& v) const noexcept {
    return quorbel::version_hash(v);
  }
};
template <>
struct hash<quorbel::version_view> {
  size_t operator()(const quorbel::version_view& v) const noexcept {
    return quorbel::version_hash(v);
  }
};

#if defined(__cpp_lib_format)
// std::format writes records and views as operator<< does, with the width,
// fill and alignment of a text ({:>12}). Like std::format itself, it throws
// std::bad_alloc when memory runs out.
template <typename Version>
requires same_as<Version, quorbel::version_record> || same_as<Version, quorbel::version_view>
struct formatter<Version> : formatter<string_view> {
  template <typename Context>
  auto format(const Version& version, Context& context) const {
    string text;
    if (quorbel::version_render(version, &text) != 0) throw bad_alloc();
    return formatter<string_view>::format(text, context);
  }
};
#endif
}  // namespace std

#endif
