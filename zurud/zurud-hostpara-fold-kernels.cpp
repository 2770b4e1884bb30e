#include "zurud/detail/hostpara-kernels.hpp"

// The fold kernels: associate rows added into a host's accumulators as they
// are read, plain and with AVX2. select_kernels() chooses among them.
#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZURUD_X86_FOLD 1
#endif

namespace zurud::hostpara::detail {

// The plain folding, for up to eight states, a row at a time.
void fold_plain(const site_rule& rule, const char* const* rows,
                std::size_t nrows, std::size_t n, counter_width width,
                bool /*fresh: the zeros are added to*/, std::uint8_t* acc) {
  const std::size_t per = width.per_byte();
  for (std::size_t r = 0; r < nrows; ++r) {
    const char* const row = rows[r];
    if (rule.formula == formula_type::CONSENSUS) {
      for (std::size_t j = 0; j < n; ++j)
        acc[j] |= rule.bit[static_cast<unsigned char>(row[j])];
      continue;
    }
    for (std::size_t j = 0; j < n; ++j) {
      const std::size_t s = rule.index[static_cast<unsigned char>(row[j])];
      if (s < rule.k)
        acc[s / per * n + j] =
            static_cast<std::uint8_t>(acc[s / per * n + j] +
                                      (1u << (s % per * width.bits)));
    }
  }
}

#ifdef ZURUD_X86_FOLD

// Folding a row, 32 sites at a time. For CONSENSUS each cell's state bit
// comes from two shuffles on its low four bits (the bit, and the high four
// bits the state must have), which needs states whose low four bits differ,
// as those of "-acgt" do; for the other formulas each state's counters take
// the matches.
bool nibbles_differ(const site_rule& rule) {
  unsigned seen = 0;
  for (const char c : rule.states) {
    const unsigned low = 1u << (static_cast<unsigned char>(c) & 15u);
    if (seen & low) return false;
    seen |= low;
  }
  return true;
}

namespace {

__attribute__((target("avx2"))) inline __m256i load32(const char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// 16 bytes in both halves, for byte shuffles.
__attribute__((target("avx2"))) inline __m256i table16(const char* t) {
  return _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
}

// R rows at a time: each accumulator block is loaded and stored once for
// all of them.
template <int R>
__attribute__((target("avx2"))) void fold_rows_avx2(const site_rule& rule,
                                                    const char* const* rows,
                                                    std::size_t n, bool fresh,
                                                    std::uint8_t* acc) {
  const std::size_t vec = n & ~std::size_t{31};
  if (rule.formula == formula_type::CONSENSUS) {
    alignas(16) std::uint8_t bits[16] = {}, highs[16];
    std::memset(highs, 0xff, sizeof highs);
    for (std::size_t s = 0; s < rule.k; ++s) {
      const auto c = static_cast<unsigned char>(rule.states[s]);
      bits[c & 15] = static_cast<std::uint8_t>(1u << s);
      highs[c & 15] = static_cast<std::uint8_t>(c >> 4);
    }
    const __m256i tb = table16(reinterpret_cast<const char*>(bits));
    const __m256i th = table16(reinterpret_cast<const char*>(highs));
    const __m256i low = _mm256_set1_epi8(15);
    for (std::size_t j = 0; j < vec; j += 32) {
      __m256i b = _mm256_setzero_si256();
      for (int r = 0; r < R; ++r) {
        const __m256i x = load32(rows[r] + j);
        const __m256i l = _mm256_and_si256(x, low);
        const __m256i h = _mm256_and_si256(_mm256_srli_epi16(x, 4), low);
        b = _mm256_or_si256(
            b, _mm256_and_si256(_mm256_shuffle_epi8(tb, l),
                                _mm256_cmpeq_epi8(_mm256_shuffle_epi8(th, l),
                                                  h)));
      }
      auto* p = reinterpret_cast<__m256i*>(acc + j);
      _mm256_storeu_si256(p, fresh ? b : _mm256_or_si256(_mm256_loadu_si256(p), b));
    }
    for (int r = 0; r < R; ++r)
      for (std::size_t j = vec; j < n; ++j)
        acc[j] |= rule.bit[static_cast<unsigned char>(rows[r][j])];
    return;
  }
  // Each stretch of the rows is loaded once for all the states' counters.
  const std::size_t k = rule.k;
  __m256i st[8];
  for (std::size_t s = 0; s < k; ++s) st[s] = _mm256_set1_epi8(rule.states[s]);
  for (std::size_t j = 0; j < vec; j += 32) {
    __m256i x[R];
    for (int r = 0; r < R; ++r) x[r] = load32(rows[r] + j);
    for (std::size_t s = 0; s < k; ++s) {
      auto* p = reinterpret_cast<__m256i*>(acc + s * n + j);
      __m256i c = fresh ? _mm256_setzero_si256() : _mm256_loadu_si256(p);
      for (int r = 0; r < R; ++r)
        c = _mm256_sub_epi8(c, _mm256_cmpeq_epi8(x[r], st[s]));
      _mm256_storeu_si256(p, c);
    }
  }
  for (int r = 0; r < R; ++r)
    for (std::size_t s = 0; s < k; ++s)
      for (std::size_t j = vec; j < n; ++j)
        acc[s * n + j] += rows[r][j] == rule.states[s];
}

// Folding into packed counters (Bits of 2 or 4): the states that share a
// byte add their units (1, 4, 16, 64 or 1, 16) into it.
template <int R, unsigned Bits>
__attribute__((target("avx2"))) void fold_rows_packed_avx2(
    const site_rule& rule, const char* const* rows, std::size_t n, bool fresh,
    std::uint8_t* acc) {
  constexpr std::size_t per = 8 / Bits;
  const std::size_t vec = n & ~std::size_t{31};
  const std::size_t k = rule.k;
  __m256i st[8], unit[8];
  for (std::size_t s = 0; s < k; ++s) {
    st[s] = _mm256_set1_epi8(rule.states[s]);
    unit[s] = _mm256_set1_epi8(static_cast<char>(1u << (s % per * Bits)));
  }
  for (std::size_t j = 0; j < vec; j += 32) {
    __m256i x[R];
    for (int r = 0; r < R; ++r) x[r] = load32(rows[r] + j);
    for (std::size_t p = 0; p * per < k; ++p) {
      auto* a = reinterpret_cast<__m256i*>(acc + p * n + j);
      __m256i c = fresh ? _mm256_setzero_si256() : _mm256_loadu_si256(a);
      const std::size_t last = std::min(k, (p + 1) * per);
      for (int r = 0; r < R; ++r)
        for (std::size_t s = p * per; s < last; ++s)
          c = _mm256_add_epi8(
              c, _mm256_and_si256(_mm256_cmpeq_epi8(x[r], st[s]), unit[s]));
      _mm256_storeu_si256(a, c);
    }
  }
  for (int r = 0; r < R; ++r)
    for (std::size_t j = vec; j < n; ++j) {
      const std::size_t s = rule.index[static_cast<unsigned char>(rows[r][j])];
      if (s < k)
        acc[s / per * n + j] = static_cast<std::uint8_t>(
            acc[s / per * n + j] + (1u << (s % per * Bits)));
    }
}

// The kernels above for 1..fold_max_rows rows and each counter width, by
// row count.
using fold_rows_fn = void (*)(const site_rule&, const char* const*,
                              std::size_t, bool, std::uint8_t*);
template <unsigned Bits, std::size_t... R>
constexpr std::array<fold_rows_fn, sizeof...(R)> by_row_count(
    std::index_sequence<R...>) {
  if constexpr (Bits == 8)
    return {fold_rows_avx2<static_cast<int>(R) + 1>...};
  else
    return {fold_rows_packed_avx2<static_cast<int>(R) + 1, Bits>...};
}
constexpr std::array<fold_rows_fn, fold_max_rows> fold_by_rows[] = {
    by_row_count<2>(std::make_index_sequence<fold_max_rows>()),
    by_row_count<4>(std::make_index_sequence<fold_max_rows>()),
    by_row_count<8>(std::make_index_sequence<fold_max_rows>())};

}  // namespace

void fold_avx2(const site_rule& rule, const char* const* rows,
               std::size_t nrows, std::size_t n, counter_width width,
               bool fresh, std::uint8_t* acc) {
  const std::size_t w = rule.formula == formula_type::CONSENSUS ? 2
                        : width.bits == 2                       ? 0
                        : width.bits == 4                       ? 1
                                                                : 2;
  fold_by_rows[w][nrows - 1](rule, rows, n, fresh, acc);
}

#endif

}  // namespace zurud::hostpara::detail
