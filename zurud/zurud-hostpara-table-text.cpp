// Association tables, their text: UTF-16 made UTF-8, lines, and the fields
// of a line.
#include "zurud/detail/assoc-table.hpp"

namespace zurud::hostpara::detail {

namespace {

void put_utf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

[[noreturn]] void refuse(const std::string& what, std::int64_t line,
                         const std::string& detail) {
  format_error e(what, detail);
  e.set_line(line);
  throw e;
}

// Up to 40 characters of `s`, for messages.
std::string shown(std::string_view s) {
  return s.size() <= shown_rest ? std::string(s)
                                : std::string(s.substr(0, shown_rest)) + "...";
}

// ---------------------------------------------------------------------------
// UTF-16, told by its byte order mark, or by zero bytes beside the first two
// characters where a spreadsheet left the mark out, becomes UTF-8 before
// anything else is read.

utf16 sniff_encoding(read::text_input& in, bool& mark) {
  const std::string_view p = in.peek(4);
  mark = true;
  if (p.starts_with("\xEF\xBB\xBF")) {
    in.consume(3);
    return utf16::NONE;
  }
  if (p.starts_with("\xFF\xFE")) {
    in.consume(2);
    return utf16::LITTLE;
  }
  if (p.starts_with("\xFE\xFF")) {
    in.consume(2);
    return utf16::BIG;
  }
  mark = false;
  if (p.size() == 4 && p[0] != 0 && p[1] == 0 && p[2] != 0 && p[3] == 0)
    return utf16::LITTLE;
  if (p.size() == 4 && p[0] == 0 && p[1] != 0 && p[2] == 0 && p[3] != 0)
    return utf16::BIG;
  return utf16::NONE;
}

std::string decode_utf16(read::text_input& in, bool big,
                         std::int64_t first_line) {
  std::string out;
  std::int64_t line = first_line;
  std::uint32_t high = 0;  // a high surrogate waiting for its low one
  int odd = -1;            // a byte waiting for its partner
  const auto unit = [&](std::uint32_t u) {
    const bool is_low = u >= 0xDC00 && u <= 0xDFFF;
    if (high != 0) {
      if (!is_low)
        refuse("broken UTF-16", line, "a high surrogate without a low one");
      put_utf8(out, 0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00));
      high = 0;
    } else if (u >= 0xD800 && u <= 0xDBFF) {
      high = u;
    } else if (is_low) {
      refuse("broken UTF-16", line, "a low surrogate without a high one");
    } else {
      if (u == '\n') ++line;
      put_utf8(out, u);
    }
  };
  for (;;) {
    const std::string_view v = in.peek_buffer();
    if (v.empty()) break;
    for (const char ch : v) {
      const auto b = static_cast<unsigned char>(ch);
      if (odd < 0) {
        odd = b;
        continue;
      }
      unit(big ? (static_cast<std::uint32_t>(odd) << 8) | b
               : (static_cast<std::uint32_t>(b) << 8) | odd);
      odd = -1;
    }
    in.consume(v.size());
  }
  if (odd >= 0) refuse("broken UTF-16", line, "an odd number of bytes");
  if (high != 0)
    refuse("broken UTF-16", line, "a high surrogate at the end of the input");
  return out;
}

// ---------------------------------------------------------------------------
// Lines. Cut from the input's buffer in place; only a line that crosses the
// end of the buffer is copied.

bool line_source::next(std::string_view& out) {
  in_.consume(owed_);
  owed_ = 0;
  buf_.clear();
  bool any = false;
  for (;;) {
    const std::string_view v = in_.peek_buffer();
    if (v.empty()) {
      if (!any) return false;
      ++line_;
      out = buf_;
      return true;
    }
    any = true;
    std::size_t end = 0;
    while (end < v.size() && v[end] != '\n' && v[end] != '\r') ++end;
    if (end == v.size()) {
      if (buf_.size() + v.size() > max_line)
        refuse("a line too long", line_ + 1,
               "longer than " + std::to_string(max_line) + " characters");
      buf_.append(v);
      in_.consume(v.size());
      continue;
    }
    ++line_;
    const bool cr = v[end] == '\r';
    if (buf_.empty() && (!cr || end + 1 < v.size())) {
      owed_ = end + 1 + (cr && v[end + 1] == '\n' ? 1 : 0);
      out = v.substr(0, end);
      return true;
    }
    buf_.append(v.substr(0, end));
    in_.consume(end + 1);
    if (cr) {
      const std::string_view w = in_.peek(1);
      if (!w.empty() && w[0] == '\n') in_.consume(1);
    }
    out = buf_;
    return true;
  }
}

// ---------------------------------------------------------------------------
// Fields.

std::string_view trim(std::string_view s) {
  std::size_t a = 0, b = s.size();
  while (a < b && is_white(s[a])) ++a;
  while (b > a && is_white(s[b - 1])) --b;
  return s.substr(a, b - a);
}

void splitter::split(std::string_view line, char sep, bool quotes,
                     std::int64_t no, std::vector<field>& out) {
  out.clear();
  line_ = line;
  no_ = no;
  // Quoted fields are unescaped here; the reserve keeps the views valid.
  scratch_.clear();
  scratch_.reserve(line.size());
  std::size_t i = 0;
  const std::size_t n = line.size();
  if (sep == 0) {
    for (;;) {
      while (i < n && is_white(line[i])) ++i;
      if (i == n) return;
      if (quotes && line[i] == '"') {
        out.push_back(quoted(i, 0));
      } else {
        const std::size_t start = i;
        while (i < n && !is_white(line[i])) ++i;
        out.push_back(checked({line.substr(start, i - start), false, i}));
      }
    }
  }
  for (;;) {
    while (i < n && line[i] != sep && is_white(line[i])) ++i;
    if (quotes && i < n && line[i] == '"') {
      out.push_back(quoted(i, sep));
    } else {
      const std::size_t start = i;
      while (i < n && line[i] != sep) ++i;
      out.push_back(checked({trim(line.substr(start, i - start)), false, i}));
    }
    if (i == n) return;
    ++i;  // the separator
  }
}

field splitter::quoted(std::size_t& i, char sep) {
  // Where the field ends after its closing quote: at the separator, or at
  // whitespace between words.
  const auto ends = [sep](char c) { return sep == 0 ? is_white(c) : c == sep; };
  const std::size_t open = i, n = line_.size();
  const std::size_t start = scratch_.size();
  for (++i;; ++i) {
    if (i == n)
      refuse("a quote without its end", no_,
             "the field " + shown(line_.substr(open)) +
                 " has no closing quote on its line");
    // R's write.table escapes a quote with a backslash where the others
    // double it; a backslash before the last quote of the line is a
    // character of its own.
    if (line_[i] == '\\' && i + 1 < n && line_[i + 1] == '"' &&
        line_.find('"', i + 2) != std::string_view::npos) {
      scratch_ += '"';
      ++i;
    } else if (line_[i] != '"') {
      scratch_ += line_[i];
    } else if (i + 1 < n && line_[i + 1] == '"') {
      scratch_ += '"';
      ++i;
    } else {
      ++i;
      break;
    }
  }
  // Text between the closing quote and the separator is kept, as
  // spreadsheets keep it; blanks around the name are no part of it.
  for (; i < n && !ends(line_[i]); ++i) scratch_ += line_[i];
  const std::string_view text = trim(std::string_view(scratch_).substr(start));
  return checked({text, true, i});
}
field splitter::checked(field f) const {
  if (f.text.size() > max_field)
    refuse("a name too long", no_,
           "a field longer than " + std::to_string(max_field) +
               " characters, starting " + shown(f.text));
  return f;
}

}  // namespace zurud::hostpara::detail
