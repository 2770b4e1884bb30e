// The zurud::text utilities against one another and against their own
// promises. Input: one byte of switches, then up to four texts separated by
// the byte 0xFF: the subject s, a pattern, a replacement and the members of
// a character set. Switch bit 0 makes the set empty, bit 1 matches through
// the Latin-1 lower-case mapping, bit 2 asks for FIRST instead of EVERY, and
// the byte / 8 gives a piece width of 0 to 31.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_util.hpp"
#include "zurud/zurud-text.hpp"

namespace {

namespace text = zurud::text;
using text::replace_type;
using text::ustr_vecs;
using zurud::char_mapping;
using zurud::char_set;
using zurud_fuzz::check;

std::vector<std::string_view> fields(std::string_view s, std::size_t most) {
  std::vector<std::string_view> out;
  while (out.size() + 1 < most) {
    const std::size_t at = s.find('\xFF');
    if (at == std::string_view::npos) break;
    out.push_back(s.substr(0, at));
    s.remove_prefix(at + 1);
  }
  out.push_back(s);
  out.resize(most);
  return out;
}

bool all_in(std::string_view s, const char_set& set) {
  return std::all_of(s.begin(), s.end(), [&](char c) { return set.contains(c); });
}

bool none_in(std::string_view s, const char_set& set) {
  return std::none_of(s.begin(), s.end(),
                      [&](char c) { return set.contains(c); });
}

std::string concat(const ustr_vecs& v) { return text::join(v, ""); }

// Appending forms add the function form's elements after those held.
template <typename Fn>
void check_appending(const ustr_vecs& whole, Fn append) {
  ustr_vecs v{"held"};
  append(v);
  check(v.size() == whole.size() + 1 && v(1) == "held", "appending keeps");
  for (std::int32_t i = 1; i <= whole.size(); ++i)
    check(v(i + 1) == whole(i), "appending form equals function form");
}

void check_sets(std::string_view s, const char_set& set, std::string_view by,
                replace_type how) {
  // Removal: the members go, nothing else.
  const std::string removed = text::remove(s, set);
  check(none_in(removed, set), "remove leaves no member");
  check(removed.size() ==
            s.size() - static_cast<std::size_t>(std::count_if(
                           s.begin(), s.end(),
                           [&](char c) { return set.contains(c); })),
        "remove takes members only");
  std::string in_place(s);
  text::remove(in_place, set);
  check(in_place == removed, "in-place remove");

  // Squeezing: no two members side by side, the same members removed.
  const std::string squeezed = text::squeeze(s, set);
  for (std::size_t i = 1; i < squeezed.size(); ++i)
    check(!(set.contains(squeezed[i - 1]) && set.contains(squeezed[i])),
          "squeeze leaves no run");
  check(text::remove(squeezed, set) == removed, "squeeze keeps non-members");
  in_place = s;
  text::squeeze(in_place, set);
  check(in_place == squeezed, "in-place squeeze");

  // Runs: scan gives them, split gives what lies between, and replacing
  // them is joining what lies between.
  const ustr_vecs runs = text::scan(s, set);
  for (const std::string& run : runs)
    check(!run.empty() && all_in(run, set), "scan gives runs of members");
  check(concat(runs) == text::remove(s, ~set), "scan gives every member");
  check_appending(runs, [&](ustr_vecs& v) { text::scan(v, s, set); });
  const ustr_vecs between = text::split(s, set);
  if (!s.empty()) {
    check(between.size() == runs.size() + 1, "one field more than runs");
    for (const std::string& field : between)
      check(none_in(field, set), "fields hold no member");
    if (how == replace_type::EVERY)
      check(text::string_map(s, set, by, how) == text::join(between, by),
            "replacing runs joins the fields");
  }
  check_appending(between, [&](ustr_vecs& v) { text::split(v, s, set); });
  in_place = s;
  text::string_map(in_place, set, by, how);
  check(in_place == text::string_map(s, set, by, how), "in-place string_map");
}

void check_patterns(std::string_view s, std::string_view pattern,
                    std::string_view by, replace_type how,
                    const char_mapping& mapping, bool identity) {
  const std::string replaced = text::string_map(s, pattern, by, how, mapping);
  std::string in_place(s);
  text::string_map(in_place, pattern, by, how, mapping);
  check(in_place == replaced, "in-place pattern string_map");
  const ustr_vecs pieces = text::split(s, pattern, mapping);
  check_appending(pieces,
                  [&](ustr_vecs& v) { text::split(v, s, pattern, mapping); });
  if (s.empty()) {
    check(pieces.empty(), "nothing to split");
    return;
  }
  // Without a mapping the separators are the pattern itself.
  if (identity) check(text::join(pieces, pattern) == s, "split then join");
  // A replacement equal to the pattern leaves s as it is, whatever matches.
  if (how == replace_type::EVERY && pattern != by)
    check(replaced == text::join(pieces, by), "replacing joins the pieces");
  if (how == replace_type::FIRST && pieces.size() == 1)
    check(replaced == s, "nothing to replace");
}

void check_widths(std::string_view s, std::size_t width) {
  if (width == 0) {
    try {
      (void)text::split(s, width);
      zurud_fuzz::fail("a width of 0 is refused");
    } catch (const zurud::range_error&) {
    }
    return;
  }
  const ustr_vecs pieces = text::split(s, width);
  check(concat(pieces) == s, "pieces join to s");
  for (std::int32_t i = 1; i <= pieces.size(); ++i)
    check(pieces(i).size() == width ||
              (i == pieces.size() && !pieces(i).empty() &&
               pieces(i).size() < width),
          "pieces have the width, the last at most");
  check_appending(pieces, [&](ustr_vecs& v) { text::split(v, s, width); });
}

void check_case(std::string_view s, std::string_view other) {
  check(text::revstr(text::revstr(s)) == s, "revstr twice");
  const std::string capped = text::cap(s);
  check(capped.size() == s.size(), "cap keeps the length");
  if (!s.empty())
    check(text::uncap(capped).substr(1) == capped.substr(1),
          "uncap changes the first character only");
  std::string in_place(s);
  text::cap(in_place);
  check(in_place == capped, "in-place cap");
  const std::size_t n = text::common(s, other);
  check(n <= std::min(s.size(), other.size()) &&
            s.substr(0, n) == other.substr(0, n) &&
            (n == std::min(s.size(), other.size()) || s[n] != other[n]),
        "common is the longest common prefix");
  check(text::common<std::string>(s, other) == s.substr(0, n),
        "common text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t switches = data[0];
  const auto parts = fields(zurud_fuzz::as_text(data + 1, size - 1), 4);
  const std::string_view s = parts[0], pattern = parts[1], by = parts[2];
  const char_set set = (switches & 1) ? char_set{} : char_set{parts[3]};
  const bool identity = (switches & 2) == 0;
  const char_mapping mapping = identity ? char_mapping{} : zurud::lower_case_map;
  const replace_type how =
      (switches & 4) ? replace_type::FIRST : replace_type::EVERY;

  if (set.empty()) {
    try {
      (void)text::remove(s, set);
      zurud_fuzz::fail("an empty set is refused");
    } catch (const text::pattern_error&) {
    }
    check(text::split(s, set).size() == static_cast<std::int32_t>(s.size()),
          "an empty set splits into characters");
  } else {
    check_sets(s, set, by, how);
  }
  if (pattern.empty()) {
    try {
      (void)text::string_map(s, pattern, by, how, mapping);
      zurud_fuzz::fail("an empty pattern is refused");
    } catch (const text::pattern_error&) {
    }
  } else {
    check_patterns(s, pattern, by, how, mapping, identity);
  }
  check_widths(s, switches / 8);
  check_case(s, pattern);
  try {
    check(text::is_in(s, set) == all_in(s, set), "is_in");
  } catch (const text::length_error&) {
    check(s.empty(), "length_error only for an empty string");
  } catch (const text::pattern_error&) {
    check(!s.empty() && set.empty(), "pattern_error only for an empty set");
  }
  return 0;
}
