#include "zurud/detail/read-scan.hpp"

#include "zurud/zurud.hpp"

#include <algorithm>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace zurud::read::detail {

namespace {

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
// (as read, lower-cased, or lower-cased with u as t: cell_case) until `n` are
// stored or the text [p, e) is used up. Rows are long runs of cells broken
// by a few blanks and line ends, so the scan takes 16 or 32 characters at a
// time: a block without whitespace is one copy; otherwise each stretch of
// cells between whitespace is copied with one (over-long) store, which the
// next stretch partly overwrites. The vector loops run only while two
// blocks of room are left in the row and two blocks of text in the buffer,
// so no load passes e and no store passes dst + n; the rest goes one
// character at a time.

// The cell as stored: as read, lower-cased, or lower-cased with u as t.
template <cell_case C>
inline char site_cell(char c) {
  if constexpr (C == cell_case::AS_READ) return c;
  const char l = lower_case_map(c);
  if constexpr (C == cell_case::SITE) return l == 'u' ? 't' : l;
  return l;
}

template <cell_case C>
void copy_black_bytewise(row_scan& s) {
  while (s.p < s.e && s.n > 0) {
    const char c = *s.p++;
    if (!white_table.is_white[static_cast<unsigned char>(c)]) {
      *s.dst++ = site_cell<C>(c);
      --s.n;
    } else {
      s.lines += c == '\n';
    }
  }
}

void skip_black_bytewise(row_scan& s) {
  while (s.p < s.e && s.n > 0) {
    const char c = *s.p++;
    s.n -= !white_table.is_white[static_cast<unsigned char>(c)];
    s.lines += c == '\n';
  }
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZURUD_X86_SCAN 1

// 0xFF in each byte that is whitespace: codes 0-32 and 127.
inline __m128i white_bytes(__m128i v) {
  const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(32)), v);
  return _mm_or_si128(low, _mm_cmpeq_epi8(v, _mm_set1_epi8(127)));
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

template <cell_case C>
inline __m128i cased(__m128i v) {
  if constexpr (C == cell_case::AS_READ) return v;
  const __m128i l = lowered(v);
  if constexpr (C == cell_case::LOWER) return l;
  // u (0x75) becomes t (0x74): subtract one where the byte is u.
  return _mm_add_epi8(l, _mm_cmpeq_epi8(l, _mm_set1_epi8('u')));
}

template <cell_case C>
inline __m128i load16(const char* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return cased<C>(v);
}

inline void store16(char* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// Bits set in a 16-bit mask, without the popcnt instruction that not every
// processor with SSE2 has (the compiler would call a library routine).
inline unsigned popcount16(unsigned v) {
  v = v - ((v >> 1) & 0x5555u);
  v = (v & 0x3333u) + ((v >> 2) & 0x3333u);
  v = (v + (v >> 4)) & 0x0F0Fu;
  return (v + (v >> 8)) & 0x1Fu;
}

// The loops work on local copies of the scan state: stores through the
// character pointer could alias it and would force a reload every block.
template <cell_case C>
void copy_black_sse2(row_scan& s) {
  const char* p = s.p;
  char* dst = s.dst;
  std::size_t n = s.n;
  std::int64_t lines = 0;
  const char* const e = s.e;
  while (n >= 32 && e - p >= 32) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned white = static_cast<unsigned>(_mm_movemask_epi8(white_bytes(v)));
    if (white == 0) {
      store16(dst, cased<C>(v));
      p += 16;
      dst += 16;
      n -= 16;
      continue;
    }
    lines += popcount16(static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')))));
    const char* src = p;
    char* d = dst;
    while (white != 0) {
      const char* w = p + __builtin_ctz(white);
      store16(d, load16<C>(src));
      d += w - src;
      src = w + 1;
      white &= white - 1;
    }
    store16(d, load16<C>(src));
    d += p + 16 - src;
    n -= static_cast<std::size_t>(d - dst);
    dst = d;
    p += 16;
  }
  s.p = p;
  s.dst = dst;
  s.n = n;
  s.lines += lines;
  copy_black_bytewise<C>(s);
}

void skip_black_sse2(row_scan& s) {
  while (s.e - s.p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.p));
    unsigned black =
        ~static_cast<unsigned>(_mm_movemask_epi8(white_bytes(v))) & 0xFFFFu;
    const unsigned lf = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))));
    const auto k = static_cast<std::size_t>(popcount16(black));
    if (k >= s.n) {
      // The last cell is in this block: stop right after it.
      if (s.n == 0) return;
      for (std::size_t i = 1; i < s.n; ++i) black &= black - 1;
      const unsigned used = static_cast<unsigned>(__builtin_ctz(black)) + 1;
      s.lines += popcount16(lf & ((1u << used) - 1));
      s.p += used;
      s.n = 0;
      return;
    }
    s.lines += popcount16(lf);
    s.n -= k;
    s.p += 16;
  }
  skip_black_bytewise(s);
}

// A byte repeated 32 times, loaded from memory. Built with a broadcast,
// GCC rebuilds each such constant inside the loops (three instructions)
// once the registers run short; a load can serve as an operand instead.
struct alignas(32) splat_bytes {
  char b[32];
};
template <int C>
inline constexpr splat_bytes splat_of = [] {
  splat_bytes s{};
  for (char& c : s.b) c = static_cast<char>(C);
  return s;
}();
template <int C>
__attribute__((target("avx2"))) inline __m256i splat() {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(splat_of<C>.b));
}

// The same with 32 characters at a time, for processors with AVX2.
__attribute__((target("avx2"))) inline __m256i white_bytes(__m256i v) {
  const __m256i low =
      _mm256_cmpeq_epi8(_mm256_min_epu8(v, splat<32>()), v);
  return _mm256_or_si256(low, _mm256_cmpeq_epi8(v, splat<127>()));
}

__attribute__((target("avx2"))) inline __m256i lowered(__m256i v) {
  const __m256i a = _mm256_sub_epi8(v, splat<'A'>());
  const __m256i ascii =
      _mm256_cmpeq_epi8(_mm256_min_epu8(a, splat<25>()), a);
  const __m256i l =
      _mm256_sub_epi8(v, splat<192>());
  const __m256i latin = _mm256_andnot_si256(
      _mm256_cmpeq_epi8(v, splat<215>()),
      _mm256_cmpeq_epi8(_mm256_min_epu8(l, splat<30>()), l));
  return _mm256_add_epi8(
      v, _mm256_and_si256(_mm256_or_si256(ascii, latin), splat<32>()));
}

template <cell_case C>
__attribute__((target("avx2"))) inline __m256i cased(__m256i v) {
  if constexpr (C == cell_case::AS_READ) return v;
  const __m256i l = lowered(v);
  if constexpr (C == cell_case::LOWER) return l;
  return _mm256_add_epi8(l, _mm256_cmpeq_epi8(l, splat<'u'>()));
}

// The same for a block of ASCII characters (no byte above 127), where
// whitespace is 0-32 and 127 and only A-Z change case: the usual rows of
// nucleotides or residues take this shorter way. Its constants are made
// once per call and hidden from the optimiser, which would otherwise
// rebuild each inside the loop (three instructions a constant).
//
// One added to a byte takes the black ASCII characters, 33-126, to 34-127
// as signed bytes, and everything else (whitespace, DEL, bytes above 127)
// below 34: one signed minimum over a block's vectors then tells whether
// all of it is black ASCII. Likewise 63 added takes A-Z, and nothing else
// of ASCII, to -128..-103.
struct ascii_constants {
  __m256i one, black_low, to_upper, upper_end, case_bit, u;
  __attribute__((target("avx2"))) ascii_constants()
      : one(_mm256_set1_epi8(1)), black_low(_mm256_set1_epi8(34)),
        to_upper(_mm256_set1_epi8(63)), upper_end(_mm256_set1_epi8(-102)),
        case_bit(_mm256_set1_epi8(32)), u(_mm256_set1_epi8('u')) {
    asm("" : "+x"(one), "+x"(black_low), "+x"(to_upper), "+x"(upper_end),
        "+x"(case_bit), "+x"(u));
  }
};

__attribute__((target("avx2"))) inline __m256i plus_one(
    const ascii_constants& k, __m256i v) {
  return _mm256_add_epi8(v, k.one);
}

// Whether all bytes of v plus one (or of the minimum of several such) are
// black ASCII.
__attribute__((target("avx2"))) inline bool all_black_ascii(
    const ascii_constants& k, __m256i shifted) {
  const __m256i below = _mm256_cmpgt_epi8(k.black_low, shifted);
  return _mm256_testz_si256(below, below) != 0;
}

// All 128 bytes of a, b, c, d.
__attribute__((target("avx2"))) inline bool all_black_ascii(
    const ascii_constants& k, __m256i a, __m256i b, __m256i c, __m256i d) {
  return all_black_ascii(
      k, _mm256_min_epi8(_mm256_min_epi8(plus_one(k, a), plus_one(k, b)),
                         _mm256_min_epi8(plus_one(k, c), plus_one(k, d))));
}

template <cell_case C>
__attribute__((target("avx2"))) inline __m256i cased_ascii(
    const ascii_constants& k, __m256i v) {
  if constexpr (C == cell_case::AS_READ) return v;
  const __m256i upper =
      _mm256_cmpgt_epi8(k.upper_end, _mm256_add_epi8(v, k.to_upper));
  const __m256i l = _mm256_add_epi8(v, _mm256_and_si256(upper, k.case_bit));
  if constexpr (C == cell_case::LOWER) return l;
  return _mm256_add_epi8(l, _mm256_cmpeq_epi8(l, k.u));
}

// For each mask of whitespace among eight bytes, the places of the other
// bytes in order, then "none" (a shuffle writes zero there).
struct pack_table {
  alignas(8) std::uint8_t at[256][8];
};
constexpr pack_table cells_first = [] {
  pack_table t{};
  for (unsigned m = 0; m < 256; ++m) {
    unsigned k = 0;
    for (unsigned i = 0; i < 8; ++i)
      if ((m >> i & 1u) == 0) t.at[m][k++] = static_cast<std::uint8_t>(i);
    for (; k < 8; ++k) t.at[m][k] = 0x80;
  }
  return t;
}();

// Line feeds among the first `len` of the 32 bytes of v.
__attribute__((target("avx2,popcnt"))) inline std::int64_t line_feeds(
    __m256i v, unsigned len) {
  std::uint32_t lf = static_cast<std::uint32_t>(
      _mm256_movemask_epi8(_mm256_cmpeq_epi8(v, splat<'\n'>())));
  if (len < 32) lf &= (1u << len) - 1;
  return __builtin_popcount(lf);
}

// The text input keeps 64 readable bytes after its text, so the last piece
// of text shorter than a block is loaded whole too and its bytes past e are
// ignored: short lines (interleaved files, FASTA) then cost one block each
// instead of a byte loop.
template <cell_case C>
__attribute__((target("avx2,bmi,popcnt"))) void copy_black_avx2(row_scan& s) {
  const char* p = s.p;
  char* dst = s.dst;
  std::size_t n = s.n;
  std::int64_t lines = 0;
  const char* const e = s.e;
  const ascii_constants k;
  // Runs of 128 ASCII cells, the bulk of most rows, pass with one test; a
  // run that fails it goes through the blocks below before the next test.
  const char* test_from = p;
  while (n >= 64 && p < e) {
    while (p >= test_from && n >= 128 + 64 && e - p >= 128) {
      const auto* q = reinterpret_cast<const __m256i*>(p);
      const __m256i a = _mm256_loadu_si256(q), b = _mm256_loadu_si256(q + 1),
                    c = _mm256_loadu_si256(q + 2), d = _mm256_loadu_si256(q + 3);
      if (!all_black_ascii(k, a, b, c, d)) {
        test_from = p + 128;
        break;
      }
      auto* o = reinterpret_cast<__m256i*>(dst);
      _mm256_storeu_si256(o, cased_ascii<C>(k, a));
      _mm256_storeu_si256(o + 1, cased_ascii<C>(k, b));
      _mm256_storeu_si256(o + 2, cased_ascii<C>(k, c));
      _mm256_storeu_si256(o + 3, cased_ascii<C>(k, d));
      p += 128;
      dst += 128;
      n -= 128;
    }
    if (n < 64 || p >= e) break;
    // 64 bytes holding one line feed and otherwise black ASCII, as FASTA
    // lines of 60 or more do: the bytes are stored whole, then the 64 after
    // the line feed over its place. The second pair may carry bytes past
    // the 64 (the input keeps 64 readable after its text): they land after
    // the cells counted, where the next stores go.
    if (n >= 128 && e - p >= 64) {
      const auto* q = reinterpret_cast<const __m256i*>(p);
      const __m256i a = _mm256_loadu_si256(q), b = _mm256_loadu_si256(q + 1);
      if (_mm256_movemask_epi8(_mm256_or_si256(a, b)) == 0) {
        const std::uint64_t white =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(
                _mm256_cmpgt_epi8(k.black_low, plus_one(k, a)))) |
            std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(
                _mm256_cmpgt_epi8(k.black_low, plus_one(k, b))))}
                << 32;
        const unsigned j =
            white != 0 ? static_cast<unsigned>(__builtin_ctzll(white)) : 0;
        if ((white & (white - 1)) == 0 && (white == 0 || p[j] == '\n')) {
          auto* o = reinterpret_cast<__m256i*>(dst);
          _mm256_storeu_si256(o, cased_ascii<C>(k, a));
          _mm256_storeu_si256(o + 1, cased_ascii<C>(k, b));
          if (white != 0) {
            const auto* r = reinterpret_cast<const __m256i*>(p + j + 1);
            auto* t = reinterpret_cast<__m256i*>(dst + j);
            _mm256_storeu_si256(t, cased_ascii<C>(k, _mm256_loadu_si256(r)));
            _mm256_storeu_si256(t + 1,
                                cased_ascii<C>(k, _mm256_loadu_si256(r + 1)));
            ++lines;
          }
          const std::size_t stored = white != 0 ? 63 : 64;
          p += 64;
          dst += stored;
          n -= stored;
          continue;
        }
      }
    }
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    if (e - p >= 32 && all_black_ascii(k, plus_one(k, v))) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst),
                          cased_ascii<C>(k, v));
      p += 32;
      dst += 32;
      n -= 32;
      continue;
    }
    const auto len = static_cast<unsigned>(std::min<std::ptrdiff_t>(e - p, 32));
    // ASCII with whitespace, as in blocks of ten, takes the shorter tests.
    const bool ascii = _mm256_movemask_epi8(v) == 0;
    unsigned white = static_cast<unsigned>(_mm256_movemask_epi8(
        ascii ? _mm256_cmpgt_epi8(k.black_low, plus_one(k, v))
              : white_bytes(v)));
    if (len < 32) white &= (1u << len) - 1;
    if (white == 0 && len == 32) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst),
                          cased<C>(v));
      p += 32;
      dst += 32;
      n -= 32;
      continue;
    }
    lines += line_feeds(v, len);
    // Eight bytes at a time, the cells are shuffled to the front and stored
    // together, however much whitespace lies between them (blocks of ten,
    // blanks between all cells).
    if (len < 32) white |= ~((1u << len) - 1);
    const __m256i c = ascii ? cased_ascii<C>(k, v) : cased<C>(v);
    const __m128i lo = _mm256_castsi256_si128(c),
                  hi = _mm256_extracti128_si256(c, 1);
    const __m128i eights[4] = {lo, _mm_srli_si128(lo, 8), hi,
                               _mm_srli_si128(hi, 8)};
    // Where each eight's cells go: counted from the block's start, so that
    // the four stores do not wait on each other.
    for (int q = 0; q < 4; ++q) {
      const std::uint32_t before = (std::uint32_t{1} << (8 * q)) - 1;
      _mm_storel_epi64(
          reinterpret_cast<__m128i*>(
              dst + 8 * q - __builtin_popcount(white & before)),
          _mm_shuffle_epi8(eights[q],
                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(
                               cells_first.at[white >> (8 * q) & 0xFFu]))));
    }
    char* const d = dst + 32 - __builtin_popcount(white);
    n -= static_cast<std::size_t>(d - dst);
    dst = d;
    p += len;
  }
  s.p = p;
  s.dst = dst;
  s.n = n;
  s.lines += lines;
  copy_black_sse2<C>(s);
}

// A bit for each of the 32 bytes at q that is not whitespace.
__attribute__((target("avx2"))) inline std::uint32_t black_of(const char* q) {
  return ~static_cast<std::uint32_t>(_mm256_movemask_epi8(
      white_bytes(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)))));
}

__attribute__((target("avx2,bmi,popcnt"))) void skip_black_avx2(row_scan& s) {
  const char* p = s.p;
  const char* const e = s.p < s.e ? s.e : s.p;
  std::size_t n = s.n;
  std::int64_t lines = 0;
  const ascii_constants ak;
  // A row's cells are mostly long runs without whitespace: 128 bytes are
  // taken at a time while the row needs more than they hold. When the 128
  // are all ASCII cells, as they mostly are, they are passed with a few
  // instructions; otherwise they are counted, line feeds too.
  while (e - p >= 128 && n > 128) {
    const auto* q = reinterpret_cast<const __m256i*>(p);
    const __m256i a = _mm256_loadu_si256(q), b = _mm256_loadu_si256(q + 1),
                  c = _mm256_loadu_si256(q + 2), d = _mm256_loadu_si256(q + 3);
    if (all_black_ascii(ak, a, b, c, d)) {
      n -= 128;
      p += 128;
      continue;
    }
    const std::size_t k =
        static_cast<std::size_t>(__builtin_popcountll(
            black_of(p) | std::uint64_t{black_of(p + 32)} << 32)) +
        static_cast<std::size_t>(__builtin_popcountll(
            black_of(p + 64) | std::uint64_t{black_of(p + 96)} << 32));
    if (k >= n) break;
    lines += line_feeds(a, 32) + line_feeds(b, 32) + line_feeds(c, 32) +
             line_feeds(d, 32);
    n -= k;
    p += 128;
  }
  while (p < e) {
    const auto len = static_cast<unsigned>(std::min<std::ptrdiff_t>(e - p, 32));
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    std::uint32_t black = black_of(p);
    if (len < 32) black &= (1u << len) - 1;
    const auto k = static_cast<std::size_t>(__builtin_popcount(black));
    if (k >= n) {
      if (n != 0) {
        for (std::size_t i = 1; i < n; ++i) black &= black - 1;
        const unsigned used = static_cast<unsigned>(__builtin_ctz(black)) + 1;
        lines += line_feeds(v, used);
        p += used;
        n = 0;
      }
      break;
    }
    lines += line_feeds(v, len);
    n -= k;
    p += len;
  }
  s.p = p;
  s.n = n;
  s.lines += lines;
}

// Line feeds in [p, e): byte counters gather compares for up to 255 blocks,
// then are summed into the total.
__attribute__((target("avx2"))) std::int64_t count_line_ends_avx2(
    const char* p, const char* e) {
  std::int64_t total = 0;
  const __m256i lf = splat<'\n'>();
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

#endif

std::int64_t count_line_ends_plain(const char* p, const char* e) {
  return std::count(p, e, '\n');
}

[[maybe_unused]] constexpr scan_kernels plain_kernels{
    {copy_black_bytewise<cell_case::AS_READ>,
     copy_black_bytewise<cell_case::LOWER>,
     copy_black_bytewise<cell_case::SITE>},
    skip_black_bytewise,
    count_line_ends_plain};

#ifdef ZURUD_X86_SCAN
constexpr scan_kernels sse2_kernels{
    {copy_black_sse2<cell_case::AS_READ>, copy_black_sse2<cell_case::LOWER>,
     copy_black_sse2<cell_case::SITE>},
    skip_black_sse2,
    count_line_ends_sse2};

constexpr scan_kernels avx2_kernels{
    {copy_black_avx2<cell_case::AS_READ>, copy_black_avx2<cell_case::LOWER>,
     copy_black_avx2<cell_case::SITE>},
    skip_black_avx2,
    count_line_ends_avx2};
#endif

}  // namespace

cell_case scan_case(const char_mapping& map) {
  if (map == site_map) return cell_case::SITE;
  if (map == lower_case_map) return cell_case::LOWER;
  return cell_case::AS_READ;
}

void finish_cells(char* dst, std::size_t n, const char_mapping& map) {
  if (scan_case(map) == cell_case::AS_READ && map != char_mapping())
    for (std::size_t j = 0; j < n; ++j) dst[j] = map(dst[j]);
}

const scan_kernels& kernels() {
#ifdef ZURUD_X86_SCAN
  return zurud::detail::use_avx2() ? avx2_kernels : sse2_kernels;
#else
  return plain_kernels;
#endif
}

}  // namespace zurud::read::detail
