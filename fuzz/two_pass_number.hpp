// The number readers as they were before the one-pass scanner: a first pass
// loads the longest text that can begin a literal, a second parses that text
// into parts, then the value is built. Kept only as the oracle of the
// differential test and fuzz target, which expect text_input::read_integer
// and read_real to behave exactly like this, value, message and consumed
// extent alike. Written with text_input's public operations only.
#pragma once
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "zurud/zurud-read.hpp"
#include "zurud/zurud.hpp"

namespace two_pass {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline int extended_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

inline std::string load_literal(zurud::read::text_input& in, bool real) {
  auto peek = [&]() -> int {
    const std::string_view next = in.peek(1);
    return next.empty() ? -1 : static_cast<unsigned char>(next[0]);
  };
  for (;;) {
    const int c = peek();
    if (c < 0)
      throw zurud::end_of_file_error("input ended where a number was expected");
    if (c == ' ' || c == '\t') {
      in.consume(1);
    } else if (c == '\n') {
      in.consume(1);
      if (peek() == '\f') in.consume(1);
    } else {
      break;
    }
  }
  std::string text;
  auto take = [&]() {
    // A literal is a word: the 10001st character is refused unread.
    if (text.size() == zurud::max_word_len)
      throw zurud::read::long_word_error(text);
    text += static_cast<char>(peek());
    in.consume(1);
  };
  auto load_if = [&](char a, char b) {
    const int c = peek();
    if (c == a || c == b) {
      take();
      return true;
    }
    return false;
  };
  auto load_digits = [&](bool extended) {
    bool loaded = false;
    bool after_digit = false;
    for (;;) {
      const int c = peek();
      if (c < 0) break;
      const bool digit = extended ? extended_digit(static_cast<char>(c)) >= 0
                                  : is_digit(static_cast<char>(c));
      if (digit) {
        take();
        loaded = after_digit = true;
      } else if (c == '_' && after_digit) {
        take();
        after_digit = false;
      } else {
        break;
      }
    }
    return loaded;
  };

  load_if('+', '-');
  bool mantissa = false;
  if (real && load_if('.', '.')) {
    mantissa = load_digits(false);
  } else if (load_digits(false)) {
    mantissa = true;
    const int hash = peek();
    if (load_if('#', ':')) {
      const bool point_first = real && load_if('.', '.');
      load_digits(true);
      if (real && !point_first && load_if('.', '.')) load_digits(true);
      load_if(static_cast<char>(hash), static_cast<char>(hash));
    } else if (real && load_if('.', '.')) {
      load_digits(false);
    }
  }
  if (mantissa && load_if('E', 'e')) {
    load_if('+', '-');
    load_digits(false);
  }
  return text;
}

// A refusal names the literal's first 40 characters, or where nothing of a
// literal was read, the word (up to 40 characters) that stands there.
[[noreturn]] inline void bad_literal(const std::string& text,
                                     zurud::read::text_input& in) {
  std::string shown = text.substr(0, 40);
  if (shown.empty())
    for (const char c : in.peek(40)) {
      if (zurud::whitespace.contains(c)) break;
      shown += c;
    }
  throw zurud::format_error("not a number: \"" + shown + "\"");
}

struct literal_parts {
  bool negative = false;
  int base = 10;
  std::string digits;
  std::size_t point = std::string::npos;
  long long exponent = 0;
};

inline bool parse_literal(const std::string& t, bool real, literal_parts& out) {
  std::size_t i = 0;
  auto numeral = [&](bool extended, std::string& into) {
    const std::size_t start = i;
    bool need_digit = true;
    while (i < t.size()) {
      const char c = t[i];
      const bool digit = extended ? extended_digit(c) >= 0 : is_digit(c);
      if (digit) {
        into += c;
        need_digit = false;
        ++i;
      } else if (c == '_' && !need_digit) {
        need_digit = true;
        ++i;
      } else {
        break;
      }
    }
    return i > start && !need_digit;
  };
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    out.negative = t[i] == '-';
    ++i;
  }
  std::string first;
  if (real && i < t.size() && t[i] == '.') {
    ++i;
    out.point = 0;
    if (!numeral(false, out.digits)) return false;
  } else {
    if (!numeral(false, first)) return false;
    if (i < t.size() && (t[i] == '#' || t[i] == ':')) {
      const char hash = t[i++];
      long base = 0;
      for (char c : first) {
        base = base * 10 + (c - '0');
        if (base > 16) return false;
      }
      if (base < 2) return false;
      out.base = static_cast<int>(base);
      if (real && i < t.size() && t[i] == '.') {
        ++i;
        out.point = 0;
        if (!numeral(true, out.digits)) return false;
      } else {
        if (!numeral(true, out.digits)) return false;
        if (real && i < t.size() && t[i] == '.') {
          ++i;
          out.point = out.digits.size();
          numeral(true, out.digits);
        }
      }
      if (i >= t.size() || t[i] != hash) return false;
      ++i;
      for (char c : out.digits)
        if (extended_digit(c) >= out.base) return false;
    } else {
      out.digits = first;
      if (real && i < t.size() && t[i] == '.') {
        ++i;
        out.point = out.digits.size();
        const std::size_t before = i;
        if (!numeral(false, out.digits) && i != before) return false;
      }
    }
  }
  if (i < t.size() && (t[i] == 'E' || t[i] == 'e')) {
    ++i;
    bool minus = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) minus = t[i++] == '-';
    std::string e;
    if (!numeral(false, e)) return false;
    long long v = 0;
    for (char c : e) v = std::min(v * 10 + (c - '0'), 1000000000LL);
    out.exponent = minus ? -v : v;
  }
  return i == t.size();
}

inline std::int32_t read_integer(zurud::read::text_input& in) {
  const std::string t = load_literal(in, false);
  literal_parts p;
  if (!parse_literal(t, false, p) || p.exponent < 0) bad_literal(t, in);
  const long long limit = p.negative ? 2147483648LL : 2147483647LL;
  long long v = 0;
  for (char c : p.digits) {
    v = v * p.base + extended_digit(c);
    if (v > limit) bad_literal(t, in);
  }
  if (v != 0) {
    for (long long e = 0; e < p.exponent; ++e) {
      v *= p.base;
      if (v > limit) bad_literal(t, in);
    }
  }
  return static_cast<std::int32_t>(p.negative ? -v : v);
}

inline double read_real(zurud::read::text_input& in) {
  const std::string t = load_literal(in, true);
  literal_parts p;
  if (!parse_literal(t, true, p)) bad_literal(t, in);
  double v;
  if (p.base == 10) {
    std::string clean =
        p.point == std::string::npos
            ? p.digits
            : p.digits.substr(0, p.point) + '.' + p.digits.substr(p.point);
    if (p.exponent != 0) {
      clean += 'e';
      clean += std::to_string(p.exponent);
    }
    const auto r =
        std::from_chars(clean.data(), clean.data() + clean.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
      const std::size_t int_digits =
          p.point == std::string::npos ? p.digits.size() : p.point;
      const std::size_t lead = p.digits.find_first_not_of('0');
      if (lead == std::string::npos) {
        v = 0.0;
      } else {
        const long long magnitude = static_cast<long long>(int_digits) -
                                    static_cast<long long>(lead) + p.exponent;
        if (magnitude > 0) bad_literal(t, in);
        v = 0.0;
      }
    } else if (r.ec != std::errc() || r.ptr != clean.data() + clean.size()) {
      bad_literal(t, in);
    }
  } else {
    long double m = 0;
    for (char c : p.digits) m = m * p.base + extended_digit(c);
    const std::size_t frac =
        p.point == std::string::npos ? 0 : p.digits.size() - p.point;
    const long double scale = std::pow(
        static_cast<long double>(p.base),
        static_cast<long double>(p.exponent) - static_cast<long double>(frac));
    const long double x = m * scale;
    if (!(x <= std::numeric_limits<double>::max())) bad_literal(t, in);
    v = static_cast<double>(x);
  }
  return p.negative ? -v : v;
}

}  // namespace two_pass

namespace two_pass {

/// What one read did, for comparing two readers: the value's bits (so that
/// -0.0 and 0.0 differ), or the kind and text of the failure, and the
/// position it stopped at.
struct outcome {
  enum kind_type { VALUE, FORMAT, END_OF_FILE, OTHER } kind = OTHER;
  std::uint64_t bits = 0;
  std::string message;
  std::int64_t position = 0;
  bool operator==(const outcome&) const = default;
};

/// Runs `read(in)` (returning std::int32_t or double) and records it.
template <typename Read>
outcome attempt(Read read, zurud::read::text_input& in) {
  outcome o;
  try {
    const auto v = read(in);
    o.kind = outcome::VALUE;
    if constexpr (sizeof v == sizeof(double)) {
      std::memcpy(&o.bits, &v, sizeof v);
    } else {
      o.bits = static_cast<std::uint32_t>(v);
    }
  } catch (const zurud::format_error& e) {
    o.kind = outcome::FORMAT;
    o.message = e.what();
  } catch (const zurud::end_of_file_error& e) {
    o.kind = outcome::END_OF_FILE;
    o.message = e.what();
  } catch (const zurud::error& e) {
    o.message = e.what();
  }
  o.position = in.position();
  return o;
}

}  // namespace two_pass
