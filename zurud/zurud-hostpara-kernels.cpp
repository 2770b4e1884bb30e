#include "zurud/detail/hostpara-kernels.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZURUD_X86_GROUP 1
#endif

namespace zurud::hostpara::detail {

struct kernel_scratch::vector_state {
#ifdef ZURUD_X86_GROUP
  static constexpr std::size_t max_k = 5;
  alignas(32) std::uint8_t small[max_k][kernel_block];
  std::uint16_t wide[max_k][kernel_block];
  // Entropies by vector of byte counts. The variable sites of a host repeat
  // a few patterns of counts (1 a and 1 g, 2 c and 1 t, ...), so each
  // pattern is computed once; the value depends on the counts alone. A key
  // and its value share a cache line.
  static constexpr unsigned memo_bits = 12;
  struct memo_entry {
    std::uint64_t key = 0;  // 0: no entry (n >= 2)
    float value = 0;
  };
  memo_entry memo[1u << memo_bits];
#endif
};

kernel_scratch::kernel_scratch(const site_rule& rule, std::size_t max_group)
    : terms(max_group) {
  (void)rule;
}

kernel_scratch::~kernel_scratch() = default;

namespace {

// The plain kernel, for any number of states: 16-bit counts, k + 1 per
// site (symbols outside the states land in the extra slot, which is never
// read, so the counting loop has no branch), rows visited one after the
// other over the block so that each associate row is read contiguously.
void count_plain(const site_rule& rule, kernel_scratch& x,
                 const char* const* rows, std::size_t nrows, std::size_t first,
                 std::size_t width, block_out out) {
  const std::size_t k = rule.k;
  const std::size_t stride = k + 1;
  x.counts.resize(kernel_block * stride);
  std::uint16_t* const counts = x.counts.data();
  std::fill_n(counts, width * stride, std::uint16_t{0});
  for (std::size_t r = 0; r < nrows; ++r) {
    const char* row = rows[r] + first;
    for (std::size_t j = 0; j < width; ++j)
      ++counts[j * stride + rule.index[static_cast<unsigned char>(row[j])]];
  }
  unsigned c[256];
  for (std::size_t j = 0; j < width; ++j) {
    for (std::size_t s = 0; s < k; ++s) c[s] = counts[j * stride + s];
    finish_site(rule, x.terms, c, j, out);
  }
}

void finish_fold_plain(const site_rule& rule, kernel_scratch& x,
                       const std::uint8_t* acc, std::size_t n,
                       std::size_t first, std::size_t count, block_out out) {
  unsigned c[8];
  for (std::size_t j = 0; j < count; ++j) {
    for (std::size_t s = 0; s < rule.k; ++s) c[s] = acc[s * n + first + j];
    finish_site(rule, x.terms, c, j, out);
  }
}

void finish_met_plain(const site_rule& rule, const std::uint8_t* acc,
                      std::size_t n, std::size_t first, std::size_t count,
                      char* dout) {
  const counter_width met{1};
  for (std::size_t j = 0; j < count; ++j) {
    unsigned mask = 0;
    for (std::size_t s = 0; s < rule.k; ++s)
      mask |= met.get(acc, n, first + j, s) << s;
    const char code = rule.code[mask];
    if (code == 0) throw constraint_error(key_not_in_map_msg);
    dout[j] = code;
  }
}

}  // namespace

namespace {

void finish_wide_plain(const site_rule& rule, kernel_scratch& x,
                       const std::uint8_t* acc, const std::uint16_t* wide,
                       std::size_t n, std::size_t first, std::size_t count,
                       counter_width width, block_out out) {
  unsigned c[8];
  for (std::size_t j = first; j < first + count; ++j) {
    for (std::size_t s = 0; s < rule.k; ++s)
      c[s] = width.get(acc, n, j, s) + unsigned{wide[s * n + j]};
    finish_site(rule, x.terms, c, j - first, out);
  }
}

// One state's counters of a stretch as bytes; the shift is a constant, so
// that the compiler makes a vector loop of it, with AVX2 where it may.
template <unsigned Shift>
[[gnu::always_inline]] inline void unpack_plane(const std::uint8_t* a,
                                                std::size_t count,
                                                unsigned limit,
                                                std::uint8_t* p) {
  for (std::size_t j = 0; j < count; ++j)
    p[j] = static_cast<std::uint8_t>(a[j] >> Shift & limit);
}

[[gnu::always_inline]] inline void unpack_all(const site_rule& rule,
                                              const std::uint8_t* acc,
                                              std::size_t n, std::size_t first,
                                              std::size_t count,
                                              counter_width width,
                                              std::uint8_t* planes) {
  const std::size_t per = width.per_byte();
  for (std::size_t s = 0; s < rule.k; ++s) {
    const std::uint8_t* const a = acc + s / per * n + first;
    std::uint8_t* const p = planes + s * count;
    switch (s % per * width.bits) {
      case 0: unpack_plane<0>(a, count, width.limit(), p); break;
      case 2: unpack_plane<2>(a, count, width.limit(), p); break;
      case 4: unpack_plane<4>(a, count, width.limit(), p); break;
      case 6: unpack_plane<6>(a, count, width.limit(), p); break;
    }
  }
}

#ifdef ZURUD_X86_GROUP
__attribute__((target("avx2"))) void unpack_all_avx2(
    const site_rule& rule, const std::uint8_t* acc, std::size_t n,
    std::size_t first, std::size_t count, counter_width width,
    std::uint8_t* planes) {
  unpack_all(rule, acc, n, first, count, width, planes);
}
#endif

}  // namespace

void unpack_counters(const site_rule& rule, const std::uint8_t* acc,
                     std::size_t n, std::size_t first, std::size_t count,
                     counter_width width, std::uint8_t* planes) {
#ifdef ZURUD_X86_GROUP
  if (zurud::detail::use_avx2())
    return unpack_all_avx2(rule, acc, n, first, count, width, planes);
#endif
  unpack_all(rule, acc, n, first, count, width, planes);
}

namespace {

#ifdef ZURUD_X86_GROUP

// The per-host counting with AVX2, for the four or five states of the tool's
// analyses. Each state has a plane of byte counters, one per site of a block
// of sites; four rows at a time are compared with the state and each match
// (-1) subtracted, so a plane is loaded and stored once per four rows. A host
// of more than 255 associates is counted 255 rows at a time, the byte
// counters added into 16-bit ones in between, which finish as byte counters
// do.
constexpr std::size_t avx_block = kernel_block;
constexpr std::size_t byte_batch = 255;

// What the vector finishers read: the rule, its code table padded to the 32
// entries the shuffles read, and the thread's tables (made on first use).
struct finish_context {
  finish_context(const site_rule& r, kernel_scratch& x)
      : rule(&r), formula(r.formula), terms(&x.terms) {
    if (!x.vector) x.vector = std::make_unique<kernel_scratch::vector_state>();
    memo = x.vector.get();
    if (formula == formula_type::CONSENSUS || formula == formula_type::MODUS)
      std::copy(r.code.begin(), r.code.end(), code.begin());
  }
  const site_rule* rule;
  formula_type formula;
  // Consensus codes by mask of states; code[0] is "?".
  std::array<char, 32> code{};
  term_table* terms;
  kernel_scratch::vector_state* memo;
};

// Count planes by state: the block's own, or a stretch of a host's folded
// counters; bytes, or 16-bit totals for hosts of more than 255 rows.
template <class T>
using plane_ptrs = const T* const*;

// Sites from..to-1 by the finishing rule.
template <int K, class T>
void finish_sites(const finish_context& f, plane_ptrs<T> planes,
                  std::size_t from, std::size_t to, char* dout, float* qout) {
  for (std::size_t j = from; j < to; ++j) {
    unsigned c[K];
    for (int s = 0; s < K; ++s) c[s] = planes[s][j];
    finish_site(*f.rule, *f.terms, c, j, block_out{dout, qout});
  }
}

__attribute__((target("avx2"))) inline __m256i load_bytes(const char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The low 8 bytes as 8 floats.
__attribute__((target("avx2"))) inline __m256 byte_floats(__m128i bytes) {
  return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes));
}

template <int K>
__attribute__((target("avx2"))) void count_rows(
    const char* const* rows, std::size_t nrows, std::size_t first,
    std::size_t width, const char* states, std::uint8_t (*planes)[avx_block]) {
  for (int s = 0; s < K; ++s) std::memset(planes[s], 0, width);
  __m256i st[K];
  for (int s = 0; s < K; ++s) st[s] = _mm256_set1_epi8(states[s]);
  const std::size_t vec = width & ~std::size_t{31};
  std::size_t r = 0;
  for (; r + 4 <= nrows; r += 4) {
    const char* a = rows[r] + first;
    const char* b = rows[r + 1] + first;
    const char* c = rows[r + 2] + first;
    const char* d = rows[r + 3] + first;
    for (std::size_t j = 0; j < vec; j += 32) {
      const __m256i va = load_bytes(a + j), vb = load_bytes(b + j),
                    vc = load_bytes(c + j), vd = load_bytes(d + j);
      for (int s = 0; s < K; ++s) {
        auto* p = reinterpret_cast<__m256i*>(planes[s] + j);
        __m256i n = _mm256_load_si256(p);
        n = _mm256_sub_epi8(n, _mm256_cmpeq_epi8(va, st[s]));
        n = _mm256_sub_epi8(n, _mm256_cmpeq_epi8(vb, st[s]));
        n = _mm256_sub_epi8(n, _mm256_cmpeq_epi8(vc, st[s]));
        n = _mm256_sub_epi8(n, _mm256_cmpeq_epi8(vd, st[s]));
        _mm256_store_si256(p, n);
      }
    }
  }
  for (; r < nrows; ++r) {
    const char* a = rows[r] + first;
    for (std::size_t j = 0; j < vec; j += 32) {
      const __m256i va = load_bytes(a + j);
      for (int s = 0; s < K; ++s) {
        auto* p = reinterpret_cast<__m256i*>(planes[s] + j);
        _mm256_store_si256(p, _mm256_sub_epi8(_mm256_load_si256(p),
                                              _mm256_cmpeq_epi8(va, st[s])));
      }
    }
  }
  for (std::size_t j = vec; j < width; ++j)
    for (std::size_t q = 0; q < nrows; ++q) {
      const char ch = rows[q][first + j];
      for (int s = 0; s < K; ++s) planes[s][j] += ch == states[s] ? 1 : 0;
    }
}

// The counts of 32 sites of each state, and byte masks made from them: a
// byte plane is one vector, a 16-bit plane two, whose 16-bit masks are
// packed into bytes in site order. Compares are of counts as unsigned.
template <class T>
struct counts32;

template <>
struct counts32<std::uint8_t> {
  __m256i v;
  __attribute__((target("avx2"))) static counts32 load(const std::uint8_t* p) {
    return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))};
  }
  __attribute__((target("avx2"))) counts32 add(counts32 o) const {
    return {_mm256_add_epi8(v, o.v)};
  }
  __attribute__((target("avx2"))) counts32 max(counts32 o) const {
    return {_mm256_max_epu8(v, o.v)};
  }
  __attribute__((target("avx2"))) __m256i eq(counts32 o) const {
    return _mm256_cmpeq_epi8(v, o.v);
  }
  __attribute__((target("avx2"))) __m256i zero() const {
    return _mm256_cmpeq_epi8(v, _mm256_setzero_si256());
  }
  // 0 or 1.
  __attribute__((target("avx2"))) __m256i below_two() const {
    return _mm256_cmpeq_epi8(_mm256_min_epu8(v, _mm256_set1_epi8(1)), v);
  }
};

template <>
struct counts32<std::uint16_t> {
  __m256i lo, hi;
  __attribute__((target("avx2"))) static counts32 load(
      const std::uint16_t* p) {
    return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16))};
  }
  __attribute__((target("avx2"))) static __m256i bytes(__m256i a, __m256i b) {
    return _mm256_permute4x64_epi64(_mm256_packs_epi16(a, b), 0xD8);
  }
  __attribute__((target("avx2"))) counts32 add(counts32 o) const {
    return {_mm256_add_epi16(lo, o.lo), _mm256_add_epi16(hi, o.hi)};
  }
  __attribute__((target("avx2"))) counts32 max(counts32 o) const {
    return {_mm256_max_epu16(lo, o.lo), _mm256_max_epu16(hi, o.hi)};
  }
  __attribute__((target("avx2"))) __m256i eq(counts32 o) const {
    return bytes(_mm256_cmpeq_epi16(lo, o.lo), _mm256_cmpeq_epi16(hi, o.hi));
  }
  __attribute__((target("avx2"))) __m256i zero() const {
    const __m256i z = _mm256_setzero_si256();
    return bytes(_mm256_cmpeq_epi16(lo, z), _mm256_cmpeq_epi16(hi, z));
  }
  __attribute__((target("avx2"))) __m256i below_two() const {
    const __m256i one = _mm256_set1_epi16(1);
    return bytes(_mm256_cmpeq_epi16(_mm256_min_epu16(lo, one), lo),
                 _mm256_cmpeq_epi16(_mm256_min_epu16(hi, one), hi));
  }
};

// The consensus codes of 32 masks of states, from a 16- or 32-entry table
// with byte shuffles; `bad` collects the masks the table has no code for.
template <int K>
__attribute__((target("avx2"))) inline __m256i codes_of(__m256i lo, __m256i hi,
                                                      __m256i mask,
                                                      __m256i& bad) {
  __m256i v = _mm256_shuffle_epi8(lo, mask);
  if (K > 4)  // bit 4 of the mask, moved to bit 7, picks the upper table
    v = _mm256_blendv_epi8(v, _mm256_shuffle_epi8(hi, mask),
                           _mm256_slli_epi16(mask, 3));
  bad = _mm256_or_si256(bad, _mm256_cmpeq_epi8(v, _mm256_setzero_si256()));
  return v;
}

__attribute__((target("avx2"))) inline __m256i code_table(const char* code) {
  return _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(code)));
}

// Consensus codes of 32 sites at a time: the mask of states present (or,
// for modal values, of the states with the largest count) picks the code.
template <int K, class T>
__attribute__((target("avx2"))) void finish_codes(const finish_context& f,
                                                  plane_ptrs<T> planes,
                                                  std::size_t width,
                                                  char* out) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo = code_table(f.code.data()),
                hi = code_table(f.code.data() + 16);
  const bool modal = f.formula == formula_type::MODUS;
  __m256i bad = zero;
  const std::size_t vec = width & ~std::size_t{31};
  for (std::size_t j = 0; j < vec; j += 32) {
    counts32<T> c[K];
    for (int s = 0; s < K; ++s) c[s] = counts32<T>::load(planes[s] + j);
    __m256i mask = zero;
    if (modal) {
      counts32<T> best = c[0];
      for (int s = 1; s < K; ++s) best = best.max(c[s]);
      for (int s = 0; s < K; ++s)
        mask = _mm256_or_si256(
            mask, _mm256_and_si256(c[s].eq(best),
                                   _mm256_set1_epi8(static_cast<char>(1 << s))));
      mask = _mm256_andnot_si256(best.zero(), mask);
    } else {
      for (int s = 0; s < K; ++s)
        mask = _mm256_or_si256(
            mask, _mm256_andnot_si256(c[s].zero(), _mm256_set1_epi8(
                                                       static_cast<char>(1 << s))));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j),
                        codes_of<K>(lo, hi, mask, bad));
  }
  if (!_mm256_testz_si256(bad, bad)) throw constraint_error(key_not_in_map_msg);
  finish_sites<K>(f, planes, vec, width, out, nullptr);
}

// Entropies: most sites are undefined (fewer than two states counted) or
// hold one state (entropy 0); 32 sites at a time are classified and written
// as -99.0 or 0.0, and only the rest are computed one by one: from byte
// counts through the memo, from the 16-bit totals of the few larger hosts
// directly.
template <int K, class T>
__attribute__((target("avx2"))) void finish_entropies(
    const finish_context& f, plane_ptrs<T> planes, std::size_t width,
    float* out) {
  const __m256 minus_99 = _mm256_set1_ps(undefined_real);
  const std::size_t vec = width & ~std::size_t{31};
  for (std::size_t j = 0; j < vec; j += 32) {
    counts32<T> c[K];
    c[0] = counts32<T>::load(planes[0] + j);
    counts32<T> n = c[0];
    for (int s = 1; s < K; ++s) {
      c[s] = counts32<T>::load(planes[s] + j);
      n = n.add(c[s]);
    }
    const __m256i undefined = n.below_two();
    __m256i simple = undefined;
    for (int s = 0; s < K; ++s) simple = _mm256_or_si256(simple, c[s].eq(n));
    const __m128i halves[2] = {_mm256_castsi256_si128(undefined),
                               _mm256_extracti128_si256(undefined, 1)};
    for (int g = 0; g < 4; ++g) {
      const __m128i bytes =
          g % 2 == 0 ? halves[g / 2] : _mm_srli_si128(halves[g / 2], 8);
      const __m256 m = _mm256_castsi256_ps(_mm256_cvtepi8_epi32(bytes));
      _mm256_storeu_ps(out + j + 8 * g, _mm256_and_ps(m, minus_99));
    }
    auto need = ~static_cast<unsigned>(_mm256_movemask_epi8(simple));
    while (need != 0) {
      const std::size_t t = j + static_cast<std::size_t>(__builtin_ctz(need));
      need &= need - 1;
      unsigned cc[K];
      for (int s = 0; s < K; ++s) cc[s] = planes[s][t];
      if constexpr (sizeof(T) > 1) {
        finish_site(*f.rule, *f.terms, cc, t, block_out{nullptr, out});
        continue;
      }
      std::uint64_t key = 0;
      for (int s = 0; s < K; ++s) key |= std::uint64_t{cc[s]} << (8 * s);
      const auto slot = static_cast<std::size_t>(
          (key * 0x9E3779B97F4A7C15u) >>
          (64 - kernel_scratch::vector_state::memo_bits));
      auto& entry = f.memo->memo[slot];
      if (entry.key != key) {
        entry.key = key;
        finish_site(*f.rule, *f.terms, cc, 0, block_out{nullptr, &entry.value});
      }
      out[t] = entry.value;
    }
  }
  finish_sites<K>(f, planes, vec, width, nullptr, out);
}

// Eight counts as eight floats.
template <class T>
__attribute__((target("avx2"))) inline __m256 count_floats(const T* p) {
  if constexpr (sizeof(T) == 1)
    return byte_floats(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
  else
    return _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}

// Frequencies of 8 sites at a time: counts to floats, one division per
// state (division is exact to the last bit in vectors too), -99.0 where
// nothing was counted, then the K vectors interleaved site by site.
template <int K, class T>
__attribute__((target("avx2"))) void finish_frequencies(
    const finish_context& f, plane_ptrs<T> planes, std::size_t width,
    float* out) {
  const __m256 minus_99 = _mm256_set1_ps(undefined_real);
  const std::size_t vec = width & ~std::size_t{7};
  for (std::size_t j = 0; j < vec; j += 8) {
    __m256 c[K];
    // Sums of at most 5000 are exact in single precision.
    __m256 nf = _mm256_setzero_ps();
    for (int s = 0; s < K; ++s) {
      c[s] = count_floats(planes[s] + j);
      nf = _mm256_add_ps(nf, c[s]);
    }
    const __m256 none = _mm256_cmp_ps(nf, _mm256_setzero_ps(), _CMP_EQ_OQ);
    __m256 q[K];
    for (int s = 0; s < K; ++s)
      q[s] = _mm256_blendv_ps(_mm256_div_ps(c[s], nf), minus_99, none);
    float* o = out + j * K;
    if constexpr (K == 4) {
      const __m256 t0 = _mm256_unpacklo_ps(q[0], q[1]);
      const __m256 t1 = _mm256_unpackhi_ps(q[0], q[1]);
      const __m256 t2 = _mm256_unpacklo_ps(q[2], q[3]);
      const __m256 t3 = _mm256_unpackhi_ps(q[2], q[3]);
      const __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44);
      const __m256 u1 = _mm256_shuffle_ps(t0, t2, 0xEE);
      const __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44);
      const __m256 u3 = _mm256_shuffle_ps(t1, t3, 0xEE);
      _mm256_storeu_ps(o, _mm256_permute2f128_ps(u0, u1, 0x20));
      _mm256_storeu_ps(o + 8, _mm256_permute2f128_ps(u2, u3, 0x20));
      _mm256_storeu_ps(o + 16, _mm256_permute2f128_ps(u0, u1, 0x31));
      _mm256_storeu_ps(o + 24, _mm256_permute2f128_ps(u2, u3, 0x31));
    } else {
      alignas(32) float tmp[K][8];
      for (int s = 0; s < K; ++s) _mm256_store_ps(tmp[s], q[s]);
      for (int t = 0; t < 8; ++t)
        for (int s = 0; s < K; ++s) o[t * K + s] = tmp[s][t];
    }
  }
  finish_sites<K>(f, planes, vec, width, nullptr, out);
}

// The cells of `width` sites from planes of their state counts (bytes or
// 16-bit totals), by the formula: the counting kernel's planes and folded
// counters finish alike.
template <int K, class T>
__attribute__((target("avx2"))) void finish_planes(const finish_context& f,
                                                   plane_ptrs<T> planes,
                                                   std::size_t width,
                                                   block_out out) {
  switch (f.formula) {
    case formula_type::CONSENSUS:
    case formula_type::MODUS:
      finish_codes<K, T>(f, planes, width, out.dout);
      break;
    case formula_type::ENTROPY:
      finish_entropies<K, T>(f, planes, width, out.qout);
      break;
    case formula_type::FREQUENCIES:
      finish_frequencies<K, T>(f, planes, width, out.qout);
      break;
    case formula_type::GROUP_SIZE:
      break;
  }
}

// The AVX2 kernel: byte planes for hosts of up to 255 associates, 16-bit
// totals of 255-row batches for larger ones.
template <int K>
void count_avx2(const site_rule& rule, kernel_scratch& x,
                const char* const* rows, std::size_t nrows, std::size_t first,
                std::size_t width, block_out out) {
  const finish_context f(rule, x);
  kernel_scratch::vector_state& v = *f.memo;
  const char* states = rule.states.data();
  if (nrows <= byte_batch) {
    count_rows<K>(rows, nrows, first, width, states, v.small);
    const std::uint8_t* planes[K];
    for (int s = 0; s < K; ++s) planes[s] = v.small[s];
    finish_planes<K>(f, planes, width, out);
    return;
  }
  for (int s = 0; s < K; ++s) std::fill_n(v.wide[s], width, std::uint16_t{0});
  for (std::size_t b = 0; b < nrows; b += byte_batch) {
    count_rows<K>(rows + b, std::min(byte_batch, nrows - b), first, width,
                  states, v.small);
    for (int s = 0; s < K; ++s)
      for (std::size_t j = 0; j < width; ++j) v.wide[s][j] += v.small[s][j];
  }
  const std::uint16_t* planes[K];
  for (int s = 0; s < K; ++s) planes[s] = v.wide[s];
  finish_planes<K>(f, planes, width, out);
}

// Cells of folded byte counters: taken as a block's planes by the finishers
// of the counting kernel.
template <int K>
__attribute__((target("avx2"))) void finish_fold_avx2(
    const site_rule& rule, kernel_scratch& x, const std::uint8_t* acc,
    std::size_t n, std::size_t first, std::size_t count, block_out out) {
  const finish_context f(rule, x);
  const std::uint8_t* planes[K];
  for (int s = 0; s < K; ++s) planes[s] = acc + s * n + first;
  finish_planes<K>(f, planes, count, out);
}

// Codes of the states met, from their planes of bits: each state's 32 bits
// of 32 sites spread to 32 bytes and make its bit of the masks. The sites
// before the first whole byte of bits, and after the last 32, go the plain
// way.
template <int K>
__attribute__((target("avx2"))) void finish_met_avx2(const site_rule& rule,
                                                     const std::uint8_t* acc,
                                                     std::size_t n,
                                                     std::size_t first,
                                                     std::size_t count,
                                                     char* dout) {
  std::array<char, 32> code{};
  std::copy(rule.code.begin(), rule.code.end(), code.begin());
  const __m256i lo = code_table(code.data()), hi = code_table(code.data() + 16);
  const std::size_t head = std::min(count, (8 - first % 8) % 8);
  finish_met_plain(rule, acc, n, first, head, dout);
  const std::size_t stride = counter_width::met_stride(n);
  const __m256i spread = _mm256_setr_epi8(
      0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 3,
      3, 3, 3, 3, 3, 3, 3);
  const __m256i select =
      _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201ull));
  __m256i bad = _mm256_setzero_si256();
  std::size_t j = head;
  for (; j + 32 <= count; j += 32) {
    const std::size_t byte = (first + j) / 8;
    __m256i mask = _mm256_setzero_si256();
    for (int s = 0; s < K; ++s) {
      std::int32_t bits;
      std::memcpy(&bits, acc + s * stride + byte, sizeof bits);
      const __m256i b =
          _mm256_and_si256(_mm256_shuffle_epi8(_mm256_set1_epi32(bits), spread),
                           select);
      mask = _mm256_or_si256(
          mask, _mm256_and_si256(_mm256_cmpeq_epi8(b, select),
                                 _mm256_set1_epi8(static_cast<char>(1 << s))));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dout + j),
                        codes_of<K>(lo, hi, mask, bad));
  }
  if (!_mm256_testz_si256(bad, bad)) throw constraint_error(key_not_in_map_msg);
  finish_met_plain(rule, acc, n, first + j, count - j, dout + j);
}

// Counters with 16-bit totals, a block at a time: the totals and the
// counters since, added into 16-bit planes, finish as the counting kernel's
// totals do.
template <int K>
void finish_wide_avx2(const site_rule& rule, kernel_scratch& x,
                      const std::uint8_t* acc, const std::uint16_t* wide,
                      std::size_t n, std::size_t first, std::size_t count,
                      counter_width width, block_out out) {
  const finish_context f(rule, x);
  kernel_scratch::vector_state& v = *f.memo;
  const std::size_t per_site =
      rule.formula == formula_type::FREQUENCIES ? rule.k : 1;
  for (std::size_t done = 0; done < count; done += kernel_block) {
    const std::size_t w = std::min(kernel_block, count - done);
    unpack_counters(rule, acc, n, first + done, w, width, &v.small[0][0]);
    const std::uint16_t* planes[K];
    for (int s = 0; s < K; ++s) {
      const std::uint8_t* const since = &v.small[0][0] + s * w;
      const std::uint16_t* const total = wide + s * n + first + done;
      for (std::size_t j = 0; j < w; ++j)
        v.wide[s][j] = static_cast<std::uint16_t>(total[j] + since[j]);
      planes[s] = v.wide[s];
    }
    finish_planes<K>(f, planes, w,
                     block_out{out.dout ? out.dout + done : nullptr,
                               out.qout ? out.qout + done * per_site : nullptr});
  }
}

#endif

}  // namespace

kernel_set select_kernels(const site_rule& rule) {
  kernel_set set{count_plain, fold_plain, finish_fold_plain,
                 finish_wide_plain, finish_met_plain};
#ifdef ZURUD_X86_GROUP
  if (zurud::detail::use_avx2() && rule.formula != formula_type::GROUP_SIZE) {
    if (rule.k == 4) {
      set.count = count_avx2<4>;
      set.finish_fold = finish_fold_avx2<4>;
      set.finish_wide = finish_wide_avx2<4>;
      set.finish_met = finish_met_avx2<4>;
    }
    if (rule.k == 5) {
      set.count = count_avx2<5>;
      set.finish_fold = finish_fold_avx2<5>;
      set.finish_wide = finish_wide_avx2<5>;
      set.finish_met = finish_met_avx2<5>;
    }
    if (rule.k <= 8) set.fold = fold_avx2;
  }
#endif
  return set;
}

}  // namespace zurud::hostpara::detail
