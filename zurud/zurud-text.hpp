// General string helpers: common prefixes, membership in a character class,
// removal and squeezing of classes, case, replacement of runs and substrings,
// tokenising, splitting and joining.
//
// Each family has a function form (std::string_view in, std::string out) and,
// where it has one, an in-place form on a std::string& that leaves the value
// the function form would return. Passing a non-const std::string lvalue
// selects the in-place form (wrap it in std::string_view for a copy); the
// function forms are [[nodiscard]] so that a call meant to change a const
// string cannot pass unnoticed. The appending
// forms of scan and split take the vector first and append the function
// form's elements, in order, after those it already holds.
#pragma once
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "zurud/zurud.hpp"

namespace zurud::text {

// ---------------------------------------------------------------------------
// Failures and shared types.

/// A character set or pattern that must not be empty is empty. what() is
/// always "pattern error"; detail() says which argument.
class pattern_error : public error {
 public:
  explicit pattern_error(std::string detail = {})
      : error("pattern error", std::move(detail)) {}
  const char* kind() const noexcept override { return "pattern error"; }
};

/// A string that must not be empty is empty. what() is always "length error".
class length_error : public error {
 public:
  explicit length_error(std::string detail = {})
      : error("length error", std::move(detail)) {}
  const char* kind() const noexcept override { return "length error"; }
};

/// FIRST replaces the first match only; EVERY replaces every match.
enum class replace_type : std::uint8_t { FIRST, EVERY };

/// Message of a vector that cannot grow.
inline constexpr const char* vector_full_msg =
    "vector is already at its maximum length";

/// Texts indexed 1..size(): what scan and split produce and join consumes.
class ustr_vecs {
 public:
  /// The largest index an element can have.
  static constexpr std::int32_t max_length =
      std::numeric_limits<std::int32_t>::max();

  ustr_vecs() = default;
  /// Appends each of `items` in turn.
  ustr_vecs(std::initializer_list<std::string> items);
  /// Appends s as element size()+1; constraint_error(vector_full_msg) when
  /// max_length elements are already held (nothing is appended then).
  void append(std::string s);
  std::int32_t size() const noexcept {
    return static_cast<std::int32_t>(items_.size());
  }
  bool empty() const noexcept { return items_.empty(); }
  /// Element i, 1 <= i <= size(); otherwise range_error.
  std::string& operator()(std::int32_t i);
  const std::string& operator()(std::int32_t i) const;
  auto begin() noexcept { return items_.begin(); }
  auto end() noexcept { return items_.end(); }
  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }
  friend bool operator==(const ustr_vecs&, const ustr_vecs&) = default;

 private:
  std::vector<std::string> items_;
};

// ---------------------------------------------------------------------------
// Prefixes and membership.

/// Number of leading positions at which s1 and s2 hold the same character.
std::size_t common(std::string_view s1, std::string_view s2) noexcept;
/// common<std::string>(s1, s2): those leading characters of s1.
template <typename T>
requires std::same_as<T, std::string>
[[nodiscard]] T common(std::string_view s1, std::string_view s2) {
  return T(s1.substr(0, common(s1, s2)));
}

/// True when every character of s is in `set`. Throws length_error for an
/// empty s, then pattern_error for an empty set.
[[nodiscard]] bool is_in(std::string_view s, const char_set& set);

// ---------------------------------------------------------------------------
// Removal, squeezing and case. The in-place forms change nothing when they
// throw.

/// s without its characters in `set`; pattern_error for an empty set.
[[nodiscard]] std::string remove(std::string_view s, const char_set& set);
void remove(std::string& s, const char_set& set);

/// s with every run of `set` cut to its first character (so "a \t b" squeezed
/// by whitespace is "a b"); pattern_error for an empty set.
[[nodiscard]] std::string squeeze(std::string_view s, const char_set& set);
void squeeze(std::string& s, const char_set& set);

/// First character upper case, the others lower case (Latin-1); "" stays "".
[[nodiscard]] std::string cap(std::string_view s);
void cap(std::string& s);

/// First character lower case (Latin-1), the others unchanged.
[[nodiscard]] std::string uncap(std::string_view s);
void uncap(std::string& s);

/// s reversed.
[[nodiscard]] std::string revstr(std::string_view s);
void revstr(std::string& s);

// ---------------------------------------------------------------------------
// Replacement. Text inserted from `by` is never searched again.

/// Replaces the first (FIRST) or every (EVERY) run of `set` in s, however
/// long, by one copy of `by`. Throws pattern_error for an empty set.
[[nodiscard]] std::string string_map(std::string_view s, const char_set& set,
                                     std::string_view by, replace_type how);
void string_map(std::string& s, const char_set& set, std::string_view by,
                replace_type how);

/// Replaces the first or every non-overlapping occurrence of `pattern` in s,
/// searched left to right, by `by`. A character of s matches a character of
/// the pattern when mapping(character of s) equals it; the pattern itself is
/// not mapped. When pattern == by, s is returned unchanged. Throws
/// pattern_error for an empty pattern.
[[nodiscard]] std::string string_map(std::string_view s,
                                     std::string_view pattern,
                                     std::string_view by, replace_type how,
                                     const char_mapping& mapping = {});
void string_map(std::string& s, std::string_view pattern, std::string_view by,
                replace_type how, const char_mapping& mapping = {});

// ---------------------------------------------------------------------------
// Tokens, splitting and joining.

/// The runs of `set` in s, left to right; the other characters only separate
/// them. Throws pattern_error for an empty set.
[[nodiscard]] ustr_vecs scan(std::string_view s, const char_set& set);
void scan(ustr_vecs& out, std::string_view s, const char_set& set);

/// Consecutive pieces of `width` characters, the last one possibly shorter;
/// none for an empty s. Throws range_error for a width of 0.
[[nodiscard]] ustr_vecs split(std::string_view s, std::size_t width);
void split(ustr_vecs& out, std::string_view s, std::size_t width);
/// A char would silently become a width: split at a string or a set instead.
template <std::same_as<char> C>
ustr_vecs split(std::string_view s, C separator) = delete;
template <std::same_as<char> C>
void split(ustr_vecs& out, std::string_view s, C separator) = delete;

/// The fields between runs of `set`: a run of several separators counts as
/// one, a leading run gives an empty first field and a trailing run an empty
/// last field. An empty set gives one element per character; an empty s none.
[[nodiscard]] ustr_vecs split(std::string_view s, const char_set& set);
void split(ustr_vecs& out, std::string_view s, const char_set& set);

/// The fields between occurrences of `separator` (matched through `mapping`
/// as in string_map); adjacent separators enclose an empty field, and a
/// leading or trailing one gives an empty first or last field. An empty
/// separator gives one element per character; an empty s none.
[[nodiscard]] ustr_vecs split(std::string_view s, std::string_view separator,
                              const char_mapping& mapping = {});
void split(ustr_vecs& out, std::string_view s, std::string_view separator,
           const char_mapping& mapping = {});

/// The elements with `separator` between each two; "" for no elements.
[[nodiscard]] std::string join(const ustr_vecs& v, std::string_view separator);

}  // namespace zurud::text
