#include "zurud/detail/hostpara-kernels.hpp"

// The fold kernels: associate rows added into a host's accumulators as they
// are read, plain and with AVX2. select_kernels() chooses among them.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZURUD_X86_FOLD 1
#endif

namespace zurud::hostpara::detail {

// Sites from..n-1 of the rows, a cell at a time: the plain folding, and the
// vector kernels' last sites.
void fold_sites(const site_rule& rule, const char* const* rows,
                std::size_t nrows, std::size_t n, counter_width width,
                std::size_t from, std::uint8_t* acc) {
  const std::size_t per = width.per_byte();
  const std::size_t stride = counter_width::met_stride(n);
  for (std::size_t r = 0; r < nrows; ++r) {
    const char* const row = rows[r];
    for (std::size_t j = from; j < n; ++j) {
      const std::size_t s = rule.index[static_cast<unsigned char>(row[j])];
      if (s >= rule.k) continue;
      if (width.site_masks()) {
        const std::uint32_t m = counter_width::mask(acc, j) | 1u << s;
        std::memcpy(acc + 4 * j, &m, sizeof m);
      } else if (width.met_only())
        acc[s * stride + j / 8] |= static_cast<std::uint8_t>(1u << (j % 8));
      else
        acc[s / per * n + j] = static_cast<std::uint8_t>(
            acc[s / per * n + j] + (1u << (s % per * width.bits)));
    }
  }
}

void fold_plain(const site_rule& rule, const char* const* rows,
                std::size_t nrows, std::size_t n, counter_width width,
                bool /*fresh: the zeros are added to*/, std::uint8_t* acc) {
  fold_sites(rule, rows, nrows, n, width, 0, acc);
}

#ifdef ZURUD_X86_FOLD

namespace {

// Each state as 32 equal bytes, to compare cells with.
__attribute__((target("avx2"))) inline void state_vectors(const site_rule& rule,
                                                         __m256i* st) {
  for (std::size_t s = 0; s < rule.k; ++s)
    st[s] = _mm256_set1_epi8(rule.states[s]);
}

// Sites j..j+31 of each of the R rows: loaded once for all the states.
template <int R>
__attribute__((target("avx2"))) inline void load_rows(const char* const* rows,
                                                     std::size_t j,
                                                     __m256i* x) {
  for (int r = 0; r < R; ++r)
    x[r] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[r] + j));
}

// Byte counters, R rows at a time: each accumulator block is loaded and
// stored once for all of them; a match (-1) is subtracted. The kernels are
// made for up to MaxK states: eight, as nucleotides take them, or 32.
template <int R, std::size_t MaxK>
__attribute__((target("avx2"))) void fold_rows_avx2(const site_rule& rule,
                                                    const char* const* rows,
                                                    std::size_t n, bool fresh,
                                                    std::uint8_t* acc) {
  const std::size_t vec = n & ~std::size_t{31};
  const std::size_t k = rule.k;
  __m256i st[MaxK];
  state_vectors(rule, st);
  for (std::size_t j = 0; j < vec; j += 32) {
    __m256i x[R];
    load_rows<R>(rows, j, x);
    for (std::size_t s = 0; s < k; ++s) {
      auto* p = reinterpret_cast<__m256i*>(acc + s * n + j);
      __m256i c = fresh ? _mm256_setzero_si256() : _mm256_loadu_si256(p);
      for (int r = 0; r < R; ++r)
        c = _mm256_sub_epi8(c, _mm256_cmpeq_epi8(x[r], st[s]));
      _mm256_storeu_si256(p, c);
    }
  }
  fold_sites(rule, rows, R, n, counter_width{8}, vec, acc);
}

// Folding into packed counters (Bits of 2 or 4): the states that share a
// byte add their units (1, 4, 16, 64 or 1, 16) into it.
template <int R, unsigned Bits, std::size_t MaxK>
__attribute__((target("avx2"))) void fold_rows_packed_avx2(
    const site_rule& rule, const char* const* rows, std::size_t n, bool fresh,
    std::uint8_t* acc) {
  constexpr std::size_t per = 8 / Bits;
  const std::size_t vec = n & ~std::size_t{31};
  const std::size_t k = rule.k;
  __m256i st[MaxK], unit[MaxK];
  state_vectors(rule, st);
  for (std::size_t s = 0; s < k; ++s)
    unit[s] = _mm256_set1_epi8(static_cast<char>(1u << (s % per * Bits)));
  for (std::size_t j = 0; j < vec; j += 32) {
    __m256i x[R];
    load_rows<R>(rows, j, x);
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
  fold_sites(rule, rows, R, n, counter_width{Bits}, vec, acc);
}

// Packed counters of many states (more than eight: protein, standard
// characters) by each cell's state instead of by a compare with every state:
// the cell's two nibbles look up the plane its state counts in and its unit
// there, so that each plane then takes one compare a row, not one for each
// of its states. The states' high nibbles are the groups of the lookup (two
// for the letters of proteins, one or two for digits).
struct nibble_tables {
  static constexpr std::size_t most = 4;
  std::size_t groups = 0;
  std::uint8_t high[most];
  std::uint8_t plane[most][16], unit[most][16];
};

// False when the states span more high nibbles than the tables take.
bool make_nibble_tables(const site_rule& rule, unsigned bits,
                        nibble_tables& t) {
  const std::size_t per = 8 / bits;
  for (std::size_t s = 0; s < rule.k; ++s) {
    const auto c = static_cast<unsigned char>(rule.states[s]);
    std::size_t g = 0;
    while (g < t.groups && t.high[g] != c >> 4) ++g;
    if (g == t.groups) {
      if (g == nibble_tables::most) return false;
      t.high[g] = static_cast<std::uint8_t>(c >> 4);
      std::fill_n(t.plane[g], 16, std::uint8_t{0xFF});  // no state
      std::fill_n(t.unit[g], 16, std::uint8_t{0});
      ++t.groups;
    }
    t.plane[g][c & 15] = static_cast<std::uint8_t>(s / per);
    t.unit[g][c & 15] = static_cast<std::uint8_t>(1u << (s % per * bits));
  }
  return true;
}

template <int R, unsigned Bits>
__attribute__((target("avx2"))) void fold_rows_indexed_avx2(
    const site_rule& rule, const nibble_tables& t, const char* const* rows,
    std::size_t n, bool fresh, std::uint8_t* acc) {
  constexpr std::size_t per = 8 / Bits;
  const std::size_t vec = n & ~std::size_t{31};
  const std::size_t planes = (rule.k + per - 1) / per;
  __m256i high[nibble_tables::most], plane[nibble_tables::most],
      unit[nibble_tables::most];
  for (std::size_t g = 0; g < t.groups; ++g) {
    high[g] = _mm256_set1_epi8(static_cast<char>(t.high[g]));
    plane[g] = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.plane[g])));
    unit[g] = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.unit[g])));
  }
  const __m256i low_nibble = _mm256_set1_epi8(0x0F);
  for (std::size_t j = 0; j < vec; j += 32) {
    __m256i x[R], at[R], add[R];
    load_rows<R>(rows, j, x);
    for (int r = 0; r < R; ++r) {
      const __m256i lo = _mm256_and_si256(x[r], low_nibble);
      const __m256i hi =
          _mm256_and_si256(_mm256_srli_epi16(x[r], 4), low_nibble);
      at[r] = _mm256_set1_epi8(-1);
      add[r] = _mm256_setzero_si256();
      for (std::size_t g = 0; g < t.groups; ++g) {
        const __m256i m = _mm256_cmpeq_epi8(hi, high[g]);
        at[r] = _mm256_blendv_epi8(at[r], _mm256_shuffle_epi8(plane[g], lo), m);
        add[r] =
            _mm256_blendv_epi8(add[r], _mm256_shuffle_epi8(unit[g], lo), m);
      }
    }
    for (std::size_t p = 0; p < planes; ++p) {
      auto* a = reinterpret_cast<__m256i*>(acc + p * n + j);
      __m256i c = fresh ? _mm256_setzero_si256() : _mm256_loadu_si256(a);
      const __m256i here = _mm256_set1_epi8(static_cast<char>(p));
      for (int r = 0; r < R; ++r)
        c = _mm256_add_epi8(
            c, _mm256_and_si256(_mm256_cmpeq_epi8(at[r], here), add[r]));
      _mm256_storeu_si256(a, c);
    }
  }
  fold_sites(rule, rows, R, n, counter_width{Bits}, vec, acc);
}

// 1-bit counters (of up to eight states): the matches of the R rows with a
// state, taken together, are that state's bits of 32 sites.
template <int R>
__attribute__((target("avx2"))) void fold_rows_met_avx2(const site_rule& rule,
                                                        const char* const* rows,
                                                        std::size_t n,
                                                        bool fresh,
                                                        std::uint8_t* acc) {
  const std::size_t vec = n & ~std::size_t{31};
  const std::size_t k = rule.k, stride = counter_width::met_stride(n);
  __m256i st[8];
  state_vectors(rule, st);
  for (std::size_t j = 0; j < vec; j += 32) {
    __m256i x[R];
    load_rows<R>(rows, j, x);
    for (std::size_t s = 0; s < k; ++s) {
      __m256i m = _mm256_cmpeq_epi8(x[0], st[s]);
      for (int r = 1; r < R; ++r)
        m = _mm256_or_si256(m, _mm256_cmpeq_epi8(x[r], st[s]));
      auto bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(m));
      std::uint8_t* const p = acc + s * stride + j / 8;
      if (!fresh) {
        std::uint32_t old;
        std::memcpy(&old, p, sizeof old);
        bits |= old;
      }
      std::memcpy(p, &bits, sizeof bits);
    }
  }
  fold_sites(rule, rows, R, n, counter_width{1}, vec, acc);
}

// The kernels above for 1..fold_max_rows rows and each counter width, by
// row count.
using fold_rows_fn = void (*)(const site_rule&, const char* const*, std::size_t,
                              bool, std::uint8_t*);
template <unsigned Bits, std::size_t MaxK, std::size_t... R>
constexpr std::array<fold_rows_fn, sizeof...(R)> by_row_count(
    std::index_sequence<R...>) {
  if constexpr (Bits == 1)
    return {fold_rows_met_avx2<static_cast<int>(R) + 1>...};
  else if constexpr (Bits == 8)
    return {fold_rows_avx2<static_cast<int>(R) + 1, MaxK>...};
  else
    return {fold_rows_packed_avx2<static_cast<int>(R) + 1, Bits, MaxK>...};
}
using fold_indexed_fn = void (*)(const site_rule&, const nibble_tables&,
                                 const char* const*, std::size_t, bool,
                                 std::uint8_t*);
template <unsigned Bits, std::size_t... R>
constexpr std::array<fold_indexed_fn, sizeof...(R)> indexed_by_row_count(
    std::index_sequence<R...>) {
  return {fold_rows_indexed_avx2<static_cast<int>(R) + 1, Bits>...};
}
constexpr std::array<fold_indexed_fn, fold_max_rows> fold_indexed_by_rows[] = {
    indexed_by_row_count<2>(std::make_index_sequence<fold_max_rows>()),
    indexed_by_row_count<4>(std::make_index_sequence<fold_max_rows>())};

template <std::size_t MaxK>
constexpr std::array<fold_rows_fn, fold_max_rows> fold_by_rows[] = {
    by_row_count<1, MaxK>(std::make_index_sequence<fold_max_rows>()),
    by_row_count<2, MaxK>(std::make_index_sequence<fold_max_rows>()),
    by_row_count<4, MaxK>(std::make_index_sequence<fold_max_rows>()),
    by_row_count<8, MaxK>(std::make_index_sequence<fold_max_rows>())};

}  // namespace

void fold_avx2(const site_rule& rule, const char* const* rows,
               std::size_t nrows, std::size_t n, counter_width width,
               bool fresh, std::uint8_t* acc) {
  const std::size_t w = static_cast<std::size_t>(std::countr_zero(width.bits));
  nibble_tables tables;
  if (width.site_masks())
    fold_masks_avx2(rule, rows, nrows, n, fresh, acc);
  else if (rule.k > 8 && (width.bits == 2 || width.bits == 4) &&
           make_nibble_tables(rule, width.bits, tables))
    fold_indexed_by_rows[w - 1][nrows - 1](rule, tables, rows, n, fresh, acc);
  else if (rule.k <= 8)
    fold_by_rows<8>[w][nrows - 1](rule, rows, n, fresh, acc);
  else
    fold_by_rows<mask_states>[w][nrows - 1](rule, rows, n, fresh, acc);
}

#endif

}  // namespace zurud::hostpara::detail
