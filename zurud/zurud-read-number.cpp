#include "zurud/zurud-read.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace zurud::read {

// ---------------------------------------------------------------------------
// Numeric literals, in one pass. The scan follows the longest-prefix rule:
// every character that can continue some literal is consumed, and only then
// is the text judged, so "1_" or "16#FF" are consumed whole and refused. On
// the way it gathers what the value is made of: sign, base, the mantissa's
// digits and point, the exponent.
struct text_input::literal_scan {
  static constexpr std::size_t none = std::size_t(-1);
  enum numeral_type { NONE, WHOLE, OPEN };  // OPEN: ends in an underscore

  text_input& in;
  const bool real;
  bool ok = true;  // the text consumed so far forms a literal
  bool negative = false;
  int base = 10;
  std::int64_t limit = 2147483647;  // 2147483648 when negative
  std::int64_t value = 0;           // integer mantissa, stops past limit
  long double based = 0;            // mantissa of a real in another base
  std::size_t digits = 0;           // mantissa digits so far
  std::size_t point = none;         // mantissa digits before the point
  std::size_t lead = none;          // index of the first nonzero digit
  std::int64_t exponent = 0;
  // A decimal real's text for from_chars, underscores gone: in `fixed`, or
  // in `spill` once it outgrows that.
  char fixed[64];
  std::size_t size = 0;
  std::string spill;
  char shown[40];  // the message names the first 40 characters consumed
  std::size_t shown_size = 0;
  std::size_t taken = 0;  // characters consumed, at most max_word_len

  literal_scan(text_input& input, bool real_literal)
      : in(input), real(real_literal) {
    scan();
  }

  int peek() {
    return in.more() ? static_cast<unsigned char>(in.buf_[in.pos_]) : -1;
  }
  char take() {
    // The decimal text kept for from_chars grows with the literal.
    if (taken++ == max_word_len)
      throw long_word_error(std::string_view(shown, shown_size));
    const char c = in.buf_[in.pos_++];
    if (shown_size < sizeof shown) shown[shown_size++] = c;
    return c;
  }
  char take_if(char a, char b) {
    const int c = peek();
    return c == a || c == b ? take() : 0;
  }
  void push(char c) {
    if (size < sizeof fixed) {
      fixed[size++] = c;
      return;
    }
    if (spill.empty()) spill.assign(fixed, size);
    spill += c;
    ++size;
  }
  const char* text() const {
    return size <= sizeof fixed ? fixed : spill.data();
  }
  void restart() {  // at the base's '#': the mantissa starts after it
    value = 0;
    digits = 0;
    lead = none;
    size = 0;
    spill.clear();
  }
  void mark_point() {
    point = digits;
    if (real && base == 10) push('.');
  }
  void add_digit(int d, char c) {
    if (d >= base) ok = false;
    if (value <= limit) value = value * base + d;
    if (d != 0 && lead == none) lead = digits;
    ++digits;
    if (!real) return;
    if (base == 10)
      push(c);
    else
      based = based * base + d;
  }
  // digit {[_] digit}, with extended digits a-f, A-F for based forms; each
  // digit goes to `add`.
  template <typename Add>
  numeral_type numeral(bool extended, Add add) {
    numeral_type n = NONE;
    for (int c; (c = peek()) >= 0;) {
      int d = c >= '0' && c <= '9' ? c - '0' : -1;
      if (extended && c >= 'a' && c <= 'f') d = c - 'a' + 10;
      if (extended && c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (d < 0 && (c != '_' || n != WHOLE)) break;
      take();
      if (d >= 0) add(d, static_cast<char>(c));
      n = d >= 0 ? WHOLE : OPEN;
    }
    return n;
  }
  numeral_type mantissa(bool extended) {
    return numeral(extended, [this](int d, char c) { add_digit(d, c); });
  }

  void scan() {
    // Pass over blanks, TABs, line ends and the page breaks that follow them.
    for (;;) {
      if (!in.more()) in.eof("where a number was expected");
      const char c = in.buf_[in.pos_];
      if (c == '\n') {
        ++in.pos_;
        in.pass_page_break();
      } else if (c == ' ' || c == '\t') {
        ++in.pos_;
      } else {
        break;
      }
    }
    negative = take_if('+', '-') == '-';
    if (negative) limit = 2147483648;
    if (real && take_if('.', '.')) {
      mark_point();
      const numeral_type n = mantissa(false);
      ok = n == WHOLE;
      if (n == NONE) return;  // no mantissa: no exponent either
    } else {
      const numeral_type n = mantissa(false);
      ok = n == WHOLE;
      if (n == NONE) return;
      if (const char hash = take_if('#', ':')) {
        // The digits read were the base, 2..16.
        if (value < 2 || value > 16) ok = false;
        base = static_cast<int>(std::clamp<std::int64_t>(value, 2, 16));
        restart();
        const bool point_first = real && take_if('.', '.');
        if (point_first) mark_point();
        if (mantissa(true) != WHOLE) ok = false;
        if (real && !point_first && take_if('.', '.')) {
          mark_point();
          mantissa(true);  // unchecked: 16#F.8_# has always read as 15.5
        }
        if (!take_if(hash, hash)) ok = false;
      } else if (real && take_if('.', '.')) {
        mark_point();
        if (mantissa(false) == OPEN) ok = false;
      }
    }
    if (take_if('E', 'e')) {
      const bool minus = take_if('+', '-') == '-';
      std::int64_t e = 0;
      auto add = [&e](int d, char) {
        e = std::min<std::int64_t>(e * 10 + d, 1000000000);
      };
      if (numeral(false, add) != WHOLE) ok = false;
      exponent = minus ? -e : e;
    }
  }

  [[noreturn]] void refuse() const {
    std::string text(shown, shown_size);
    if (text.empty()) {
      // Nothing of a number was read: name the word that stands there.
      const std::string_view ahead = in.peek(sizeof shown);
      std::size_t k = 0;
      while (k < ahead.size() && !whitespace.contains(ahead[k])) ++k;
      text = ahead.substr(0, k);
    }
    throw format_error("not a number: \"" + text + "\"");
  }
};

std::int32_t text_input::read_integer() {
  literal_scan s(*this, false);
  if (!s.ok || s.exponent < 0 || s.value > s.limit) s.refuse();
  std::int64_t v = s.value;
  for (std::int64_t e = 0; v != 0 && e < s.exponent; ++e) {
    v *= s.base;
    if (v > s.limit) s.refuse();
  }
  return static_cast<std::int32_t>(s.negative ? -v : v);
}

double text_input::read_real() {
  literal_scan s(*this, true);
  if (!s.ok) s.refuse();
  double v;
  if (s.base == 10) {
    // Decimal: let from_chars do the correctly rounded conversion.
    if (s.exponent != 0) {
      char e[24] = {'e'};
      const char* end = std::to_chars(e + 1, e + sizeof e, s.exponent).ptr;
      for (const char* p = e; p != end; ++p) s.push(*p);
    }
    const char* end = s.text() + s.size;
    const auto r = std::from_chars(s.text(), end, v);
    if (r.ec == std::errc::result_out_of_range) {
      // Below the double range reads as zero; above it is refused.
      // The leading digit's place: positive means the value is at least 1.
      const auto whole =
          static_cast<std::int64_t>(s.point == s.none ? s.digits : s.point);
      const auto lead = static_cast<std::int64_t>(s.lead);
      if (s.lead != s.none && whole - lead + s.exponent > 0) s.refuse();
      v = 0.0;
    } else if (r.ec != std::errc() || r.ptr != end) {
      s.refuse();
    }
  } else {
    const std::size_t frac = s.point == s.none ? 0 : s.digits - s.point;
    const long double scale = std::pow(
        static_cast<long double>(s.base),
        static_cast<long double>(s.exponent) - static_cast<long double>(frac));
    const long double x = s.based * scale;
    if (!(x <= std::numeric_limits<double>::max())) s.refuse();
    v = static_cast<double>(x);
  }
  return s.negative ? -v : v;
}

}  // namespace zurud::read
