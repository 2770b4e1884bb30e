#include "zurud/zurud-text.hpp"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace zurud::text {

// ---------------------------------------------------------------------------
// ustr_vecs

ustr_vecs::ustr_vecs(std::initializer_list<std::string> items) {
  for (const auto& s : items) append(s);
}

void ustr_vecs::append(std::string s) {
  if (items_.size() >= static_cast<std::size_t>(max_length))
    throw constraint_error(vector_full_msg);
  items_.push_back(std::move(s));
}

std::string& ustr_vecs::operator()(std::int32_t i) {
  if (i < 1 || i > size())
    throw range_error("vector index " + std::to_string(i) + " outside 1.." +
                      std::to_string(size()));
  return items_[static_cast<std::size_t>(i - 1)];
}

const std::string& ustr_vecs::operator()(std::int32_t i) const {
  return const_cast<ustr_vecs&>(*this)(i);
}

// ---------------------------------------------------------------------------
// Searching.

namespace {

void require_set(const char_set& set) {
  if (set.empty()) throw pattern_error("empty character set");
}

struct span_type {
  std::size_t first;
  std::size_t end;  // one past the last character
};

constexpr std::size_t none = std::string_view::npos;

// The first run of `set` in s at or after `from`; first == none if there is
// none. The next search starts at the run's end, so a whole pass over s reads
// each character once.
span_type find_run(std::string_view s, const char_set& set, std::size_t from) {
  std::size_t i = from;
  while (i < s.size() && !set.contains(s[i])) ++i;
  if (i == s.size()) return {none, none};
  std::size_t j = i + 1;
  while (j < s.size() && set.contains(s[j])) ++j;
  return {i, j};
}

// Finds a pattern in text seen through a mapping. Knuth-Morris-Pratt keeps
// each search linear in the text whatever the pattern ("aaab" in "aaaa...");
// since successive searches start where the previous match ended, a whole
// pass is linear too.
class pattern_finder {
 public:
  pattern_finder(std::string_view pattern, const char_mapping& mapping)
      : pattern_(pattern), mapping_(mapping), border_(pattern.size(), 0) {
    // border_[i]: length of the longest proper prefix of pattern[0..i] that
    // is also a suffix of it.
    std::size_t k = 0;
    for (std::size_t i = 1; i < pattern_.size(); ++i) {
      while (k > 0 && pattern_[i] != pattern_[k]) k = border_[k - 1];
      if (pattern_[i] == pattern_[k]) ++k;
      border_[i] = k;
    }
  }

  // The first occurrence in s at or after `from`; first == none if there is
  // none.
  span_type find(std::string_view s, std::size_t from) const {
    std::size_t k = 0;
    for (std::size_t i = from; i < s.size(); ++i) {
      const char c = mapping_(s[i]);
      while (k > 0 && c != pattern_[k]) k = border_[k - 1];
      if (c == pattern_[k] && ++k == pattern_.size()) return {i + 1 - k, i + 1};
    }
    return {none, none};
  }

 private:
  std::string_view pattern_;
  char_mapping mapping_;
  std::vector<std::size_t> border_;
};

// Copies s with the first or every span that `find` reports replaced by `by`.
// Scanning resumes after each replaced span in s itself, never in the
// output, which is what keeps `by` out of later searches.
template <typename Find>
std::string replace_spans(std::string_view s, std::string_view by,
                          replace_type how, Find find) {
  std::string out;
  out.reserve(s.size());
  std::size_t pos = 0;
  for (;;) {
    const span_type m = find(s, pos);
    if (m.first == none) break;
    out.append(s, pos, m.first - pos);
    out.append(by);
    pos = m.end;
    if (how == replace_type::FIRST) break;
  }
  out.append(s, pos);
  return out;
}

// The fields of s between the spans that `find` reports. After a span that
// ends s the search finds nothing and the rest, an empty last field, is
// appended.
template <typename Find>
ustr_vecs split_at_spans(std::string_view s, Find find) {
  ustr_vecs out;
  std::size_t pos = 0;
  for (span_type m = find(s, pos); m.first != none; m = find(s, pos)) {
    out.append(std::string(s.substr(pos, m.first - pos)));
    pos = m.end;
  }
  out.append(std::string(s.substr(pos)));
  return out;
}

ustr_vecs split_characters(std::string_view s) {
  ustr_vecs out;
  for (char c : s) out.append(std::string(1, c));
  return out;
}

// The appending forms compute the whole result before touching `out`: s may
// view an element of `out`, which growing `out` would move.
void append_all(ustr_vecs& out, ustr_vecs&& more) {
  for (auto& s : more) out.append(std::move(s));
}

}  // namespace

// ---------------------------------------------------------------------------
// Prefixes and membership.

std::size_t common(std::string_view s1, std::string_view s2) noexcept {
  const std::size_t n = std::min(s1.size(), s2.size());
  std::size_t i = 0;
  while (i < n && s1[i] == s2[i]) ++i;
  return i;
}

bool is_in(std::string_view s, const char_set& set) {
  if (s.empty()) throw length_error("empty string");
  require_set(set);
  return std::all_of(s.begin(), s.end(),
                     [&](char c) { return set.contains(c); });
}

// ---------------------------------------------------------------------------
// Removal, squeezing and case: these work in place, and the function forms
// run them on a copy.

void remove(std::string& s, const char_set& set) {
  require_set(set);
  std::erase_if(s, [&](char c) { return set.contains(c); });
}

std::string remove(std::string_view s, const char_set& set) {
  std::string out(s);
  remove(out, set);
  return out;
}

void squeeze(std::string& s, const char_set& set) {
  require_set(set);
  // A run is any stretch of members, not only of one repeated character.
  std::size_t kept = 0;
  bool in_run = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const bool member = set.contains(s[i]);
    if (!(member && in_run)) s[kept++] = s[i];
    in_run = member;
  }
  s.resize(kept);
}

std::string squeeze(std::string_view s, const char_set& set) {
  std::string out(s);
  squeeze(out, set);
  return out;
}

void cap(std::string& s) {
  if (s.empty()) return;
  s[0] = upper_case_map(s[0]);
  for (std::size_t i = 1; i < s.size(); ++i) s[i] = lower_case_map(s[i]);
}

std::string cap(std::string_view s) {
  std::string out(s);
  cap(out);
  return out;
}

void uncap(std::string& s) {
  if (!s.empty()) s[0] = lower_case_map(s[0]);
}

std::string uncap(std::string_view s) {
  std::string out(s);
  uncap(out);
  return out;
}

void revstr(std::string& s) { std::reverse(s.begin(), s.end()); }

std::string revstr(std::string_view s) {
  return std::string(s.rbegin(), s.rend());
}

// ---------------------------------------------------------------------------
// Replacement.

std::string string_map(std::string_view s, const char_set& set,
                       std::string_view by, replace_type how) {
  require_set(set);
  return replace_spans(s, by, how, [&](std::string_view t, std::size_t from) {
    return find_run(t, set, from);
  });
}

void string_map(std::string& s, const char_set& set, std::string_view by,
                replace_type how) {
  s = string_map(std::string_view(s), set, by, how);
}

std::string string_map(std::string_view s, std::string_view pattern,
                       std::string_view by, replace_type how,
                       const char_mapping& mapping) {
  if (pattern.empty()) throw pattern_error("empty pattern");
  // The shortcut comes before any search, so with a mapping that is not the
  // identity s stays as it is even where the pattern would match.
  if (s.empty() || pattern == by) return std::string(s);
  const pattern_finder finder(pattern, mapping);
  return replace_spans(s, by, how, [&](std::string_view t, std::size_t from) {
    return finder.find(t, from);
  });
}

void string_map(std::string& s, std::string_view pattern, std::string_view by,
                replace_type how, const char_mapping& mapping) {
  s = string_map(std::string_view(s), pattern, by, how, mapping);
}

// ---------------------------------------------------------------------------
// Tokens, splitting and joining.

ustr_vecs scan(std::string_view s, const char_set& set) {
  require_set(set);
  ustr_vecs out;
  for (span_type run = find_run(s, set, 0); run.first != none;
       run = find_run(s, set, run.end))
    out.append(std::string(s.substr(run.first, run.end - run.first)));
  return out;
}

void scan(ustr_vecs& out, std::string_view s, const char_set& set) {
  append_all(out, scan(s, set));
}

ustr_vecs split(std::string_view s, std::size_t width) {
  if (width == 0) throw range_error("split width 0, must be at least 1");
  ustr_vecs out;
  for (std::size_t pos = 0; pos < s.size(); pos += width)
    out.append(std::string(s.substr(pos, width)));
  return out;
}

void split(ustr_vecs& out, std::string_view s, std::size_t width) {
  append_all(out, split(s, width));
}

ustr_vecs split(std::string_view s, const char_set& set) {
  if (s.empty()) return {};
  if (set.empty()) return split_characters(s);
  return split_at_spans(s, [&](std::string_view t, std::size_t from) {
    return find_run(t, set, from);
  });
}

void split(ustr_vecs& out, std::string_view s, const char_set& set) {
  append_all(out, split(s, set));
}

ustr_vecs split(std::string_view s, std::string_view separator,
                const char_mapping& mapping) {
  if (s.empty()) return {};
  if (separator.empty()) return split_characters(s);
  const pattern_finder finder(separator, mapping);
  return split_at_spans(s, [&](std::string_view t, std::size_t from) {
    return finder.find(t, from);
  });
}

void split(ustr_vecs& out, std::string_view s, std::string_view separator,
           const char_mapping& mapping) {
  append_all(out, split(s, separator, mapping));
}

std::string join(const ustr_vecs& v, std::string_view separator) {
  if (v.empty()) return {};
  std::size_t length =
      separator.size() * static_cast<std::size_t>(v.size() - 1);
  for (const auto& s : v) length += s.size();
  std::string out;
  out.reserve(length);
  auto it = v.begin();
  out.append(*it);
  for (++it; it != v.end(); ++it) {
    out.append(separator);
    out.append(*it);
  }
  return out;
}

}  // namespace zurud::text
