#include "zurud/zurud-read.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "zurud/zurud-text.hpp"

namespace zurud::read {

namespace {

constexpr std::size_t file_buffer_size = std::size_t{1} << 18;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int extended_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A 256-entry copy of `whitespace` as bytes: the row fast path looks each
// character up here instead of testing bits.
struct byte_table {
  unsigned char is_white[256];
  constexpr byte_table() : is_white{} {
    for (unsigned c = 0; c < 256; ++c)
      is_white[c] = whitespace.contains(static_cast<unsigned char>(c)) ? 1 : 0;
  }
};
constexpr byte_table white_table;

// Cells of a discrete row: the characters that are not whitespace, copied
// (and, for `Lower`, lower-cased as lower_case_map does) until `n` are
// stored or the text [p, e) is used up. Rows are long runs of cells broken
// by a few blanks and line ends, so the scan takes 16 or 32 characters at a
// time: a block without whitespace is one copy; otherwise each stretch of
// cells between whitespace is copied with one (over-long) store, which the
// next stretch partly overwrites. The vector loops run only while two
// blocks of room are left in the row and two blocks of text in the buffer,
// so no load passes e and no store passes dst + n; the rest goes one
// character at a time.
struct row_scan {
  const char* p;
  const char* e;
  char* dst;
  std::size_t n;
};

template <bool Lower>
void copy_black_bytewise(row_scan& s) {
  while (s.p < s.e && s.n > 0) {
    const char c = *s.p++;
    if (!white_table.is_white[static_cast<unsigned char>(c)]) {
      *s.dst++ = Lower ? lower_case_map(c) : c;
      --s.n;
    }
  }
}

void skip_black_bytewise(row_scan& s) {
  while (s.p < s.e && s.n > 0)
    s.n -= !white_table.is_white[static_cast<unsigned char>(*s.p++)];
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZURUD_X86_SCAN 1

// 0xFF in each byte that is whitespace: codes 0-32 and 127-159.
inline __m128i white_bytes(__m128i v) {
  const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(32)), v);
  const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8(127));
  const __m128i high = _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(32)), d);
  return _mm_or_si128(low, high);
}

// lower_case_map on 16 bytes: A-Z, 192-214 and 216-222 move up by 32.
inline __m128i lowered(__m128i v) {
  const __m128i a = _mm_sub_epi8(v, _mm_set1_epi8('A'));
  const __m128i ascii = _mm_cmpeq_epi8(_mm_min_epu8(a, _mm_set1_epi8(25)), a);
  const __m128i l = _mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(192)));
  const __m128i latin = _mm_andnot_si128(
      _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(215))),
      _mm_cmpeq_epi8(_mm_min_epu8(l, _mm_set1_epi8(30)), l));
  return _mm_add_epi8(
      v, _mm_and_si128(_mm_or_si128(ascii, latin), _mm_set1_epi8(32)));
}

template <bool Lower>
inline __m128i load16(const char* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return Lower ? lowered(v) : v;
}

inline void store16(char* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// The loops work on local copies of the scan state: stores through the
// character pointer could alias it and would force a reload every block.
template <bool Lower>
void copy_black_sse2(row_scan& s) {
  const char* p = s.p;
  char* dst = s.dst;
  std::size_t n = s.n;
  const char* const e = s.e;
  while (n >= 32 && e - p >= 32) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned white = static_cast<unsigned>(_mm_movemask_epi8(white_bytes(v)));
    if (white == 0) {
      store16(dst, Lower ? lowered(v) : v);
      p += 16;
      dst += 16;
      n -= 16;
      continue;
    }
    const char* src = p;
    char* d = dst;
    while (white != 0) {
      const char* w = p + __builtin_ctz(white);
      store16(d, load16<Lower>(src));
      d += w - src;
      src = w + 1;
      white &= white - 1;
    }
    store16(d, load16<Lower>(src));
    d += p + 16 - src;
    n -= static_cast<std::size_t>(d - dst);
    dst = d;
    p += 16;
  }
  s.p = p;
  s.dst = dst;
  s.n = n;
  copy_black_bytewise<Lower>(s);
}

void skip_black_sse2(row_scan& s) {
  while (s.e - s.p >= 16) {
    unsigned black =
        ~static_cast<unsigned>(_mm_movemask_epi8(white_bytes(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.p))))) &
        0xFFFFu;
    const auto k = static_cast<std::size_t>(__builtin_popcount(black));
    if (k >= s.n) {
      // The last cell is in this block: stop right after it.
      for (std::size_t i = 1; i < s.n; ++i) black &= black - 1;
      s.p += __builtin_ctz(black) + 1;
      s.n = 0;
      return;
    }
    s.n -= k;
    s.p += 16;
  }
  skip_black_bytewise(s);
}

// The same with 32 characters at a time, for processors with AVX2.
__attribute__((target("avx2"))) inline __m256i white_bytes(__m256i v) {
  const __m256i low =
      _mm256_cmpeq_epi8(_mm256_min_epu8(v, _mm256_set1_epi8(32)), v);
  const __m256i d = _mm256_sub_epi8(v, _mm256_set1_epi8(127));
  const __m256i high =
      _mm256_cmpeq_epi8(_mm256_min_epu8(d, _mm256_set1_epi8(32)), d);
  return _mm256_or_si256(low, high);
}

__attribute__((target("avx2"))) inline __m256i lowered(__m256i v) {
  const __m256i a = _mm256_sub_epi8(v, _mm256_set1_epi8('A'));
  const __m256i ascii =
      _mm256_cmpeq_epi8(_mm256_min_epu8(a, _mm256_set1_epi8(25)), a);
  const __m256i l =
      _mm256_sub_epi8(v, _mm256_set1_epi8(static_cast<char>(192)));
  const __m256i latin = _mm256_andnot_si256(
      _mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(215))),
      _mm256_cmpeq_epi8(_mm256_min_epu8(l, _mm256_set1_epi8(30)), l));
  return _mm256_add_epi8(
      v, _mm256_and_si256(_mm256_or_si256(ascii, latin), _mm256_set1_epi8(32)));
}

template <bool Lower>
__attribute__((target("avx2"))) inline __m256i load32(const char* p) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  return Lower ? lowered(v) : v;
}

template <bool Lower>
__attribute__((target("avx2,bmi"))) void copy_black_avx2(row_scan& s) {
  const char* p = s.p;
  char* dst = s.dst;
  std::size_t n = s.n;
  const char* const e = s.e;
  while (n >= 64 && e - p >= 64) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    unsigned white =
        static_cast<unsigned>(_mm256_movemask_epi8(white_bytes(v)));
    if (white == 0) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst),
                          Lower ? lowered(v) : v);
      p += 32;
      dst += 32;
      n -= 32;
      continue;
    }
    const char* src = p;
    char* d = dst;
    while (white != 0) {
      const char* w = p + __builtin_ctz(white);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), load32<Lower>(src));
      d += w - src;
      src = w + 1;
      white &= white - 1;
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), load32<Lower>(src));
    d += p + 32 - src;
    n -= static_cast<std::size_t>(d - dst);
    dst = d;
    p += 32;
  }
  s.p = p;
  s.dst = dst;
  s.n = n;
  copy_black_sse2<Lower>(s);
}

__attribute__((target("avx2,bmi,popcnt"))) void skip_black_avx2(row_scan& s) {
  while (s.e - s.p >= 32) {
    unsigned black = ~static_cast<unsigned>(_mm256_movemask_epi8(white_bytes(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.p)))));
    const auto k = static_cast<std::size_t>(__builtin_popcount(black));
    if (k >= s.n) {
      for (std::size_t i = 1; i < s.n; ++i) black &= black - 1;
      s.p += __builtin_ctz(black) + 1;
      s.n = 0;
      return;
    }
    s.n -= k;
    s.p += 32;
  }
  skip_black_sse2(s);
}

// Line feeds in [p, e): byte counters gather compares for up to 255 blocks,
// then are summed into the total.
__attribute__((target("avx2"))) std::int64_t count_line_ends_avx2(
    const char* p, const char* e) {
  std::int64_t total = 0;
  const __m256i lf = _mm256_set1_epi8('\n');
  while (e - p >= 32) {
    const std::ptrdiff_t blocks = std::min<std::ptrdiff_t>((e - p) / 32, 255);
    __m256i counts = _mm256_setzero_si256();
    for (std::ptrdiff_t b = 0; b < blocks; ++b, p += 32)
      counts = _mm256_sub_epi8(
          counts,
          _mm256_cmpeq_epi8(
              _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), lf));
    const __m256i sums = _mm256_sad_epu8(counts, _mm256_setzero_si256());
    total += _mm256_extract_epi64(sums, 0) + _mm256_extract_epi64(sums, 1) +
             _mm256_extract_epi64(sums, 2) + _mm256_extract_epi64(sums, 3);
  }
  return total + std::count(p, e, '\n');
}

std::int64_t count_line_ends_sse2(const char* p, const char* e) {
  std::int64_t total = 0;
  const __m128i lf = _mm_set1_epi8('\n');
  while (e - p >= 16) {
    const std::ptrdiff_t blocks = std::min<std::ptrdiff_t>((e - p) / 16, 255);
    __m128i counts = _mm_setzero_si128();
    for (std::ptrdiff_t b = 0; b < blocks; ++b, p += 16)
      counts = _mm_sub_epi8(
          counts,
          _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                         lf));
    const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
    total += _mm_cvtsi128_si64(sums) +
             _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums));
  }
  return total + std::count(p, e, '\n');
}

bool has_avx2() { return zurud::detail::use_avx2(); }
#endif

template <bool Lower>
void copy_black(row_scan& s) {
#ifdef ZURUD_X86_SCAN
  if (has_avx2())
    copy_black_avx2<Lower>(s);
  else
    copy_black_sse2<Lower>(s);
#else
  copy_black_bytewise<Lower>(s);
#endif
}

// Line feeds in [p, e): every character read passes through here once, for
// line() in diagnostics.
std::int64_t count_line_ends(const char* p, const char* e) {
#ifdef ZURUD_X86_SCAN
  return has_avx2() ? count_line_ends_avx2(p, e) : count_line_ends_sse2(p, e);
#else
  return std::count(p, e, '\n');
#endif
}

void skip_black(row_scan& s) {
#ifdef ZURUD_X86_SCAN
  if (has_avx2())
    skip_black_avx2(s);
  else
    skip_black_sse2(s);
#else
  skip_black_bytewise(s);
#endif
}

}  // namespace

// ---------------------------------------------------------------------------
// Buffer management.

text_input::text_input(std::string_view text, std::string name)
    : at_eof_(true), name_(std::move(name)),
      buf_(std::make_unique_for_overwrite<char[]>(text.size() + 1)),
      cap_(text.size() + 1), end_(text.size()) {
  // An empty view may have no data at all, and memcpy from null is undefined
  // even for no bytes.
  if (!text.empty()) std::memcpy(buf_.get(), text.data(), text.size());
}

text_input::text_input(int fd, std::string name, bool owns_fd)
    : fd_(fd), owns_fd_(owns_fd), name_(std::move(name)),
      buf_(std::make_unique_for_overwrite<char[]>(file_buffer_size)),
      cap_(file_buffer_size) {}

text_input text_input::open(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0)
    throw open_error("cannot open " + path + ": " + std::strerror(errno));
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw open_error("cannot open " + path + ": it is a folder");
  }
  return text_input(fd, path, true);
}

text_input text_input::standard_input() {
  return text_input(0, "standard input", false);
}

text_input::text_input(text_input&& o) noexcept { *this = std::move(o); }

text_input& text_input::operator=(text_input&& o) noexcept {
  if (this != &o) {
    if (owns_fd_ && fd_ >= 0) ::close(fd_);
    fd_ = o.fd_;
    owns_fd_ = o.owns_fd_;
    at_eof_ = o.at_eof_;
    name_ = std::move(o.name_);
    buf_ = std::move(o.buf_);
    cap_ = o.cap_;
    pos_ = o.pos_;
    end_ = o.end_;
    counted_ = o.counted_;
    lines_ = o.lines_;
    o.fd_ = -1;
    o.owns_fd_ = false;
  }
  return *this;
}

text_input::~text_input() {
  if (owns_fd_ && fd_ >= 0) ::close(fd_);
}

std::size_t text_input::fill(std::size_t want) {
  while (end_ - pos_ < want && !at_eof_) {
    if (pos_ > 0 && cap_ - pos_ < want + 4096) {
      // Move the unread rest to the front; count the line feeds of what is
      // dropped so that line() stays right.
      lines_ += count_line_ends(buf_.get() + counted_, buf_.get() + pos_);
      std::memmove(buf_.get(), buf_.get() + pos_, end_ - pos_);
      end_ -= pos_;
      pos_ = 0;
      counted_ = 0;
    }
    const ssize_t k = ::read(fd_, buf_.get() + end_, cap_ - end_);
    if (k < 0) {
      if (errno == EINTR) continue;
      throw io_error("cannot read " + name_ + ": " + std::strerror(errno));
    }
    if (k == 0)
      at_eof_ = true;
    else
      end_ += static_cast<std::size_t>(k);
  }
  return end_ - pos_;
}

std::int64_t text_input::line() {
  return lines_ + count_line_ends(buf_.get() + counted_, buf_.get() + pos_) +
         1;
}

void text_input::eof(const char* what) const {
  throw end_of_file_error(std::string("input ended ") + what);
}

void text_input::pass_page_break() {
  if (more() && buf_[pos_] == '\f') ++pos_;
}

// ---------------------------------------------------------------------------
// Primitive operations.

char text_input::read_char() {
  for (;;) {
    if (!more()) eof("where a character was expected");
    const char c = buf_[pos_++];
    if (c != '\n') return c;
    pass_page_break();
  }
}

bool text_input::end_of_line() { return !more() || buf_[pos_] == '\n'; }

bool text_input::exhausted() { return !more(); }

bool text_input::end_of_input() {
  const std::size_t n = fill(3);
  const char* p = buf_.get() + pos_;
  return n == 0 || (n == 1 && p[0] == '\n') ||
         (n == 2 && p[0] == '\n' && p[1] == '\f');
}

void text_input::skip_line() {
  if (!more()) eof("where a line was to be skipped");
  for (;;) {
    const char* p = buf_.get() + pos_;
    const void* nl = std::memchr(p, '\n', end_ - pos_);
    if (nl != nullptr) {
      pos_ += static_cast<std::size_t>(static_cast<const char*>(nl) - p) + 1;
      pass_page_break();
      return;
    }
    pos_ = end_;
    if (!more()) return;  // a last line without line feed counts as ended
  }
}

std::string text_input::read_line(std::size_t capacity) {
  if (!more()) eof("where a line was expected");
  std::string line;
  while (line.size() < capacity) {
    if (!more()) return line;
    const char* p = buf_.get() + pos_;
    const std::size_t n = std::min(end_ - pos_, capacity - line.size());
    const void* nl = std::memchr(p, '\n', n);
    if (nl != nullptr) {
      const auto k = static_cast<std::size_t>(static_cast<const char*>(nl) - p);
      line.append(p, k);
      pos_ += k + 1;
      pass_page_break();
      return line;
    }
    line.append(p, n);
    pos_ += n;
  }
  // The buffer is full. A line of exactly `capacity` characters still has
  // its line end consumed; a longer one leaves its rest for the next read.
  if (more() && buf_[pos_] == '\n') {
    ++pos_;
    pass_page_break();
  }
  return line;
}

void text_input::read_black(char* dst, std::size_t n) {
  read_black(dst, n, char_mapping());
}

void text_input::read_black(char* dst, std::size_t n,
                            const char_mapping& map) {
  // The driver's mapping (lower case) and the identity are done during the
  // scan; any other mapping is applied to the cells afterwards.
  const bool lower = map == lower_case_map;
  row_scan s{nullptr, nullptr, dst, n};
  while (s.n > 0) {
    if (!more()) eof("inside a matrix row");
    s.p = buf_.get() + pos_;
    s.e = buf_.get() + end_;
    if (lower)
      copy_black<true>(s);
    else
      copy_black<false>(s);
    pos_ = static_cast<std::size_t>(s.p - buf_.get());
  }
  if (!lower && map != char_mapping())
    for (std::size_t j = 0; j < n; ++j) dst[j] = map(dst[j]);
}

void text_input::skip_black(std::size_t n) {
  row_scan s{nullptr, nullptr, nullptr, n};
  while (s.n > 0) {
    if (!more()) eof("inside a matrix row");
    s.p = buf_.get() + pos_;
    s.e = buf_.get() + end_;
    zurud::read::skip_black(s);
    pos_ = static_cast<std::size_t>(s.p - buf_.get());
  }
}

bool text_input::skip_members(const char_set& set) {
  while (more()) {
    const char c = buf_[pos_];
    if (c != '\n' && !set.contains(c)) return false;
    ++pos_;
  }
  return true;
}

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

namespace {

// The rows of read_char_mat. DISCR cells are stored as read (map null),
// stored mapped, or, without `store`, only consumed.
void read_rows(text_input& in, char_format_type layout, char_mat_type& matrix,
               const char_mapping* map, bool store) {
  const label_format_type labels = label_layout(layout);
  const std::int32_t ntax = matrix.ntax();
  const std::int32_t nchar = matrix.nchar();
  std::int32_t i = 1;
  try {
    for (; i <= ntax; ++i) {
      matrix.labels(i) = read_label(in, labels);
      switch (matrix.char_type()) {
        case matrix_type::DISCR: {
          const auto n = static_cast<std::size_t>(nchar);
          if (!store)
            in.skip_black(n);
          else if (map != nullptr)
            in.read_black(matrix.discr_row(i), n, *map);
          else
            in.read_black(matrix.discr_row(i), n);
          break;
        }
        case matrix_type::QUANT: {
          float* row = matrix.quant_row(i);
          for (std::int32_t j = 0; j < nchar; ++j) {
            const double v = in.read_real();
            if (std::isfinite(v) && std::fabs(v) > max_float)
              throw range_error("value " + std::to_string(v) +
                                " beyond single precision");
            row[j] = static_cast<float>(v);
          }
          break;
        }
        case matrix_type::CNTCH: {
          std::int32_t* row = matrix.count_row(i);
          for (std::int32_t j = 0; j < nchar; ++j) {
            const std::int32_t v = in.read_integer();
            if (v < 0)
              throw range_error("negative count " + std::to_string(v));
            row[j] = v;
          }
          break;
        }
      }
      // The end of the input also ends the last row: a file whose last cell
      // is its last byte is complete.
      if (!in.exhausted()) in.skip_line();
    }
  } catch (error& e) {
    e.add_detail("row " + std::to_string(i) + " of " + std::to_string(ntax));
    throw;
  }
}

}  // namespace

void read_char_mat(text_input& in, char_format_type layout,
                   char_mat_type& matrix) {
  read_rows(in, layout, matrix, nullptr, true);
}

void read_char_mat(text_input& in, char_format_type layout,
                   char_mat_type& matrix, const char_mapping& map) {
  read_rows(in, layout, matrix, &map, true);
}

void skim_char_mat(text_input& in, char_format_type layout,
                   char_mat_type& matrix) {
  read_rows(in, layout, matrix, nullptr, false);
}

namespace {

std::string trimmed(std::string_view s, const char_set& set) {
  std::size_t first = 0, last = s.size();
  while (first < last && set.contains(s[first])) ++first;
  while (last > first && set.contains(s[last - 1])) --last;
  return std::string(s.substr(first, last - first));
}

std::string character_name(char c) {
  const auto code = static_cast<unsigned char>(c);
  if (code > 32 && code < 127) return std::string("\"") + c + "\"";
  return "code " + std::to_string(code);
}

// Cleans the residues of one record and appends it.
void store_sequence(const std::string& label, std::string& residues,
                    sequence_vecs& sequences) {
  text::remove(residues, whitespace);
  for (char& c : residues) c = good_gaps(c);
  for (char c : residues)
    if (non_wide_nuc_set.contains(c))
      throw invalid_character_error("invalid residue " + character_name(c),
                                    "in sequence \"" + label + "\"");
  sequences.append(sequence_type{label, {}, residues});
  residues.clear();
}

}  // namespace

void read_fasta(text_input& in, sequence_vecs& sequences) {
  std::string label;
  std::string residues;
  std::int64_t headers = 0;
  while (!in.end_of_input()) {
    const std::string line = in.read_line(max_line_len);
    if (!line.empty() && line[0] == '>') {
      if (++headers > 1) store_sequence(label, residues, sequences);
      label = trimmed(std::string_view(line).substr(1), whitespace);
    } else {
      residues += line;
    }
  }
  store_sequence(label, residues, sequences);
}

bool is_aligned(const sequence_vecs& sequences) {
  if (sequences.empty())
    throw range_error("no sequences to check for alignment");
  const std::size_t length = sequences(1).residues.size();
  if (length == 0) throw range_error("the first sequence has no residues");
  for (const sequence_type& s : sequences)
    if (s.residues.size() != length) return false;
  return true;
}

// ---------------------------------------------------------------------------
// Distance matrices.

label_format_type label_layout(dist_format_type layout) {
  switch (layout) {
    case dist_format_type::PHYLIP:
      return label_format_type::PHYLIP;
    case dist_format_type::TAB:
      return label_format_type::TAB_SEPARATED;
    default:
      return label_format_type::EXTENDED_PHYLIP;
  }
}

namespace {

// A distance read in double precision, rounded to the single precision it is
// stored in. The range is that of the rounded value: the text
// 3.40282347E+38 is a little above the largest float as a double, yet it
// names it. Doubles from halfway to the next power of two upwards would
// round to infinity and are refused before the conversion.
float to_distance(double v) {
  constexpr double overflow = static_cast<double>(max_float) + 0x1p103;
  if (v < 0.0 || v >= overflow) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v);
    throw range_error("distance " + std::string(text, r.ptr) +
                      " outside 0.0 .. 3.40282347E+38");
  }
  return static_cast<float>(v);
}

// Reads every row of a square matrix; store(i, j, v) keeps value j of row i.
template <typename Store>
void read_dist_rows(text_input& in, dist_format_type layout,
                    tax_lab_type& labels, std::int32_t ntax, Store store) {
  const label_format_type label_format = label_layout(layout);
  std::int32_t i = 1;
  try {
    for (; i <= ntax; ++i) {
      labels(i) = read_label(in, label_format);
      for (std::int32_t j = 1; j <= ntax; ++j)
        store(i, j, to_distance(in.read_real()));
      if (!in.exhausted()) in.skip_line();
    }
  } catch (error& e) {
    e.add_detail("row " + std::to_string(i) + " of " + std::to_string(ntax));
    throw;
  }
}

}  // namespace

void read_dist_mat(text_input& in, dist_format_type layout,
                   dist_mat_type& matrix) {
  read_dist_rows(in, layout, matrix.labels, matrix.ntax(),
                 [&](std::int32_t i, std::int32_t j, float v) {
                   matrix.distances.set(i, j, v);
                 });
}

void read_fast_dist_mat(text_input& in, dist_format_type layout,
                        fast_dist_mat_type& matrix) {
  std::int32_t k = 0;
  // set() refuses a k beyond the size, after its value has been read.
  read_dist_rows(in, layout, matrix.labels, matrix.ntax(),
                 [&](std::int32_t, std::int32_t, float v) {
                   matrix.distances.set(++k, v);
                 });
}

}  // namespace zurud::read
