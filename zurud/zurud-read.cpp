#include "zurud/zurud-read.hpp"

#include <algorithm>
#include <string>

namespace zurud::read {

// ---------------------------------------------------------------------------
// Words, labels, headers.

std::string describe(const error& e, text_input* reading) {
  std::string line = std::string(e.kind()) + ": " + e.what();
  if (!e.detail().empty()) line += ": " + e.detail();
  if (reading != nullptr)
    line += " (" + reading->name() + ", line " +
            std::to_string(reading->line()) + ")";
  return line;
}

std::string get_word(text_input& in, const char_set& delimiters) {
  std::string word;
  for (;;) {
    if (!word.empty() && in.end_of_line()) return word;
    const char c = in.read_char();
    if (delimiters.contains(c)) {
      if (!word.empty()) return word;
    } else {
      word += c;
    }
  }
}

void skip_word(text_input& in, const char_set& delimiters) {
  bool started = false;
  for (;;) {
    if (started && in.end_of_line()) return;
    const char c = in.read_char();
    if (delimiters.contains(c)) {
      if (started) return;
    } else {
      started = true;
    }
  }
}

char get_black(text_input& in, const char_set& delimiters) {
  for (;;) {
    const char c = in.read_char();
    if (!delimiters.contains(c)) return c;
  }
}

void append_black(std::string& target, std::string_view source,
                  const char_set& delimiters) {
  for (char c : source)
    if (!delimiters.contains(c)) target += c;
}

std::string black_only(std::string_view source, const char_set& delimiters) {
  std::string s;
  append_black(s, source, delimiters);
  return s;
}

std::string read_label(text_input& in, label_format_type layout) {
  switch (layout) {
    case label_format_type::PHYLIP: {
      std::string label(10, ' ');
      for (char& c : label) c = in.read_char();
      return label;
    }
    case label_format_type::EXTENDED_PHYLIP:
      return get_word(in, whitespace);
    case label_format_type::COMMENTED_PHYLIP: {
      std::string label = get_word(in, whitespace);
      skip_word(in, whitespace);
      return label;
    }
    case label_format_type::TAB_SEPARATED:
      return get_word(in, controlchr);
  }
  return {};
}

header_type read_header(text_input& in) {
  header_type h;
  h.ntax = in.read_integer();
  if (h.ntax < 1 || h.ntax > max_taxa)
    throw range_error("taxon count " + std::to_string(h.ntax) +
                      " outside 1..5000");
  h.nchar = in.read_integer();
  if (h.nchar < 1 || h.nchar > max_chars)
    throw range_error("character count " + std::to_string(h.nchar) +
                      " outside 1..1048576");
  in.skip_line();
  return h;
}

std::int32_t read_dist_header(text_input& in, dist_format_type layout) {
  std::int64_t n;
  if (layout == dist_format_type::TAB) {
    // The whole header line is counted, however long: a cut-off count would
    // leave labels in the input and misread every row.
    const std::string line = in.read_line(std::string::npos);
    n = std::count(line.begin(), line.end(), '\t');
  } else {
    n = in.read_integer();
  }
  if (n < 1 || n > max_taxa)
    throw range_error("taxon count " + std::to_string(n) + " outside 1..5000");
  if (layout != dist_format_type::TAB) in.skip_line();
  return static_cast<std::int32_t>(n);
}

label_format_type label_layout(char_format_type layout) {
  switch (layout) {
    case char_format_type::PHYLIP:
      return label_format_type::PHYLIP;
    case char_format_type::COMMENTED_PHYLIP:
      return label_format_type::COMMENTED_PHYLIP;
    default:
      return label_format_type::EXTENDED_PHYLIP;
  }
}

}  // namespace zurud::read
