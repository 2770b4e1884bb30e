#include "zurud/zurud-read.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace zurud::read {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int extended_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

// ---------------------------------------------------------------------------
// Numeric literals. Loading follows the longest-prefix rule: every character
// that can continue some literal is consumed, and only then is the text
// checked, so "1_" or "16#FF" are consumed whole and refused.

std::string text_input::load_literal(bool real) {
  // Pass over blanks, TABs, line ends and the page breaks that follow them.
  for (;;) {
    if (!more()) eof("where a number was expected");
    const char c = buf_[pos_];
    if (c == ' ' || c == '\t') {
      ++pos_;
    } else if (c == '\n') {
      ++pos_;
      pass_page_break();
    } else {
      break;
    }
  }
  std::string text;
  auto peek = [&]() -> int {
    return more() ? static_cast<unsigned char>(buf_[pos_]) : -1;
  };
  auto take = [&]() { text += buf_[pos_++]; };
  auto load_if = [&](char a, char b) {
    const int c = peek();
    if (c == a || c == b) {
      take();
      return true;
    }
    return false;
  };
  // digit {[_] digit}, or extended digits for based forms.
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

namespace {

[[noreturn]] void bad_literal(const std::string& text) {
  throw format_error("not a number: \"" + text.substr(0, 40) + "\"");
}

// Parsed parts of a literal: sign, base, mantissa digits (underscores gone)
// with the position of the point, and the exponent.
struct literal_parts {
  bool negative = false;
  int base = 10;
  std::string digits;  // mantissa digits without the point
  std::size_t point = std::string::npos;  // digits before the point
  long long exponent = 0;
};

// Checks `t` against the literal grammar and splits it. Returns false when
// it is not a literal.
bool parse_literal(const std::string& t, bool real, literal_parts& out) {
  std::size_t i = 0;
  auto numeral = [&](bool extended, std::string& into) {
    // digit {[_] digit}
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
      // The base: a decimal numeral 2..16.
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

}  // namespace

std::int32_t text_input::read_integer() {
  const std::string t = load_literal(false);
  literal_parts p;
  if (!parse_literal(t, false, p) || p.exponent < 0) bad_literal(t);
  // Accumulate the magnitude; anything past 2^31 does not fit either sign.
  const long long limit = p.negative ? 2147483648LL : 2147483647LL;
  long long v = 0;
  for (char c : p.digits) {
    v = v * p.base + extended_digit(c);
    if (v > limit) bad_literal(t);
  }
  if (v != 0) {
    for (long long e = 0; e < p.exponent; ++e) {
      v *= p.base;
      if (v > limit) bad_literal(t);
    }
  }
  return static_cast<std::int32_t>(p.negative ? -v : v);
}

double text_input::read_real() {
  const std::string t = load_literal(true);
  literal_parts p;
  if (!parse_literal(t, true, p)) bad_literal(t);
  double v;
  if (p.base == 10) {
    // Decimal: let from_chars do the correctly rounded conversion.
    std::string clean =
        p.point == std::string::npos
            ? p.digits
            : p.digits.substr(0, p.point) + '.' + p.digits.substr(p.point);
    if (p.exponent != 0) {
      clean += 'e';
      clean += std::to_string(p.exponent);
    }
    const auto r = std::from_chars(clean.data(), clean.data() + clean.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
      // Below the double range reads as zero; above it is refused.
      const std::size_t int_digits =
          p.point == std::string::npos ? p.digits.size() : p.point;
      const std::size_t lead = p.digits.find_first_not_of('0');
      if (lead == std::string::npos) {
        v = 0.0;
      } else {
        const long long magnitude =
            static_cast<long long>(int_digits) - static_cast<long long>(lead) +
            p.exponent;
        if (magnitude > 0) bad_literal(t);
        v = 0.0;
      }
    } else if (r.ec != std::errc() || r.ptr != clean.data() + clean.size()) {
      bad_literal(t);
    }
  } else {
    long double m = 0;
    for (char c : p.digits) m = m * p.base + extended_digit(c);
    const std::size_t frac =
        p.point == std::string::npos ? 0 : p.digits.size() - p.point;
    const long double scale =
        std::pow(static_cast<long double>(p.base),
                 static_cast<long double>(p.exponent) -
                     static_cast<long double>(frac));
    const long double x = m * scale;
    if (!(x <= std::numeric_limits<double>::max())) bad_literal(t);
    v = static_cast<double>(x);
  }
  return p.negative ? -v : v;
}

}  // namespace zurud::read
