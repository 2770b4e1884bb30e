#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "zurud/detail/hostpara-kernels.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZURUD_X86_GROUP 1
#endif

namespace zurud::hostpara::detail {

struct kernel_scratch::vector_state {
#ifdef ZURUD_X86_GROUP
  // Count planes: of four or five states, plane s at s * kernel_block; of
  // other numbers of states, one after the other as long as the block.
  alignas(32) std::uint8_t small[mask_states * kernel_block];
  alignas(32) std::uint16_t wide[mask_states * kernel_block];
  // Entropies by vector of byte counts (of many states: by the counts of
  // the states met, in order; the two agree where a key could be read
  // either way). The variable sites of a host repeat a few patterns of
  // counts (1 a and 1 g, 2 c and 1 t, ...), so each pattern is computed
  // once; the value depends on the counts alone. A key and its value share
  // a cache line.
  static constexpr unsigned memo_bits = 12;
  struct memo_entry {
    std::uint64_t key = 0;  // 0: no entry (n >= 2)
    float value = 0;
  };
  memo_entry memo[1u << memo_bits];
  // Codes of a consensus of a threshold by byte counts of four or five
  // states, alike: the variable sites repeat a few patterns of counts.
  struct code_entry {
    std::uint64_t key = 0;  // 0: no entry (several states met)
    char code = 0;
  };
  code_entry codes[1u << memo_bits];
#endif
};

kernel_scratch::kernel_scratch(const site_rule& rule, std::size_t max_group)
    : terms(max_group) {
  (void)rule;
}

kernel_scratch::~kernel_scratch() = default;

namespace {

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
      case 0:
        unpack_plane<0>(a, count, width.limit(), p);
        break;
      case 2:
        unpack_plane<2>(a, count, width.limit(), p);
        break;
      case 4:
        unpack_plane<4>(a, count, width.limit(), p);
        break;
      case 6:
        unpack_plane<6>(a, count, width.limit(), p);
        break;
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

// The per-host counting with AVX2. Each state has a plane of byte counters,
// one per site of a block of sites; four rows at a time are compared with
// the state and each match (-1) subtracted, so a plane is loaded and stored
// once per four rows. A host of more than 255 associates is counted 255
// rows at a time, the byte counters added into 16-bit ones in between,
// which finish as byte counters do.
//
// The kernels are made twice: for K = 4 or 5 states (nucleotides, with and
// without gaps), where the compiler unrolls every loop over the states, and
// for K = 0, any number of states up to 32 (the rule's k), with the same
// loops run at run time.
constexpr std::size_t byte_batch = 255;

template <int K>
constexpr std::size_t max_k = K > 0 ? static_cast<std::size_t>(K) : mask_states;

// What the vector finishers read: the rule, its code table padded to the 32
// entries the shuffles read (up to five states), and the thread's tables
// (made on first use).
struct finish_context {
  finish_context(const site_rule& r, kernel_scratch& x)
      : rule(&r),
        formula(r.formula),
        k(static_cast<int>(r.k)),
        terms(&x.terms) {
    if (!x.vector) x.vector = std::make_unique<kernel_scratch::vector_state>();
    memo = x.vector.get();
    if ((formula == formula_type::CONSENSUS ||
         formula == formula_type::MODUS) &&
        r.code.size() <= code.size())
      std::copy(r.code.begin(), r.code.end(), code.begin());
  }
  const site_rule* rule;
  formula_type formula;
  int k;
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
                  std::size_t from, std::size_t to, const block_out& out) {
  const int k = K > 0 ? K : f.k;
  for (std::size_t j = from; j < to; ++j) {
    unsigned c[max_k<K>];
    for (int s = 0; s < k; ++s) c[s] = planes[s][j];
    finish_site(*f.rule, *f.terms, c, j, out);
  }
}

__attribute__((target("avx2"))) inline __m256i load_bytes(const char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The low 8 bytes as 8 floats.
__attribute__((target("avx2"))) inline __m256 byte_floats(__m128i bytes) {
  return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes));
}

// Plane s at planes + s * stride.
template <int K>
__attribute__((target("avx2"))) void count_rows(
    const char* const* rows, std::size_t nrows, std::size_t first,
    std::size_t width, const char* states, int k, std::uint8_t* planes,
    std::size_t stride) {
  if (K > 0) k = K;
  for (int s = 0; s < k; ++s) std::memset(planes + s * stride, 0, width);
  __m256i st[max_k<K>];
  for (int s = 0; s < k; ++s) st[s] = _mm256_set1_epi8(states[s]);
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
      for (int s = 0; s < k; ++s) {
        auto* p = reinterpret_cast<__m256i*>(planes + s * stride + j);
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
      for (int s = 0; s < k; ++s) {
        auto* p = reinterpret_cast<__m256i*>(planes + s * stride + j);
        _mm256_store_si256(p, _mm256_sub_epi8(_mm256_load_si256(p),
                                              _mm256_cmpeq_epi8(va, st[s])));
      }
    }
  }
  for (std::size_t j = vec; j < width; ++j)
    for (std::size_t q = 0; q < nrows; ++q) {
      const char ch = rows[q][first + j];
      for (int s = 0; s < k; ++s) planes[s * stride + j] += ch == states[s];
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
  __attribute__((target("avx2"))) void store(std::uint8_t* p) const {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
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
  // These counts where they are above `level`'s, else 0.
  __attribute__((target("avx2"))) counts32 above(counts32 level) const {
    return {_mm256_andnot_si256(
        _mm256_cmpeq_epi8(_mm256_max_epu8(v, level.v), level.v), v)};
  }
  // Below m (m >= 1).
  __attribute__((target("avx2"))) __m256i below(unsigned m) const {
    if (m > 255) return _mm256_set1_epi8(-1);
    return _mm256_cmpeq_epi8(
        _mm256_min_epu8(v, _mm256_set1_epi8(static_cast<char>(m - 1))), v);
  }
};

template <>
struct counts32<std::uint16_t> {
  __m256i lo, hi;
  __attribute__((target("avx2"))) static counts32 load(const std::uint16_t* p) {
    return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16))};
  }
  __attribute__((target("avx2"))) void store(std::uint16_t* p) const {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), lo);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 16), hi);
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
  __attribute__((target("avx2"))) counts32 above(counts32 level) const {
    return {
        _mm256_andnot_si256(
            _mm256_cmpeq_epi16(_mm256_max_epu16(lo, level.lo), level.lo), lo),
        _mm256_andnot_si256(
            _mm256_cmpeq_epi16(_mm256_max_epu16(hi, level.hi), level.hi), hi)};
  }
  __attribute__((target("avx2"))) __m256i below(unsigned m) const {
    if (m > 65535) return _mm256_set1_epi8(-1);
    const __m256i top = _mm256_set1_epi16(static_cast<short>(m - 1));
    return bytes(_mm256_cmpeq_epi16(_mm256_min_epu16(lo, top), lo),
                 _mm256_cmpeq_epi16(_mm256_min_epu16(hi, top), hi));
  }
};

// Asks for the counts of a plane some sites ahead: the planes of many
// states are as many streams through memory, more than the processor
// follows by itself.
template <class T>
__attribute__((target("avx2"))) inline void ahead(const T* p) {
  _mm_prefetch(reinterpret_cast<const char*>(p) + 512, _MM_HINT_T0);
}

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
__attribute__((target("avx2"))) void finish_codes_rule(const finish_context& f,
                                                       plane_ptrs<T> planes,
                                                       std::size_t width,
                                                       const block_out& out);

template <int K, class T>
__attribute__((target("avx2"))) void finish_codes(const finish_context& f,
                                                  plane_ptrs<T> planes,
                                                  std::size_t width,
                                                  const block_out& out) {
  if (!f.rule->plain) return finish_codes_rule<K, T>(f, planes, width, out);
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
            mask,
            _mm256_and_si256(c[s].eq(best),
                             _mm256_set1_epi8(static_cast<char>(1 << s))));
      mask = _mm256_andnot_si256(best.zero(), mask);
    } else {
      for (int s = 0; s < K; ++s)
        mask = _mm256_or_si256(
            mask,
            _mm256_andnot_si256(c[s].zero(),
                                _mm256_set1_epi8(static_cast<char>(1 << s))));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.dout + j),
                        codes_of<K>(lo, hi, mask, bad));
  }
  if (!_mm256_testz_si256(bad, bad)) throw constraint_error(key_not_in_map_msg);
  finish_sites<K>(f, planes, vec, width, out);
}

// The entry that `key` hashes to in a memo of 2^memo_bits entries.
template <class Table>
inline auto& memo_slot(Table& table, std::uint64_t key) {
  return table[static_cast<std::size_t>(
      (key * 0x9E3779B97F4A7C15u) >>
      (64 - kernel_scratch::vector_state::memo_bits))];
}

// Codes under a minimum or a consensus threshold, 32 sites at a time: a
// site below the minimum is "?", one of a single state (or, for modal
// values, any site) takes the code of its mask as without them. Of a
// threshold, a state is taken when the states more frequent than it make up
// less than the share of the n associates counted (the levels from the most
// frequent down stop at the first that reaches the share, ties together):
// the sums above each state and share * n are compared in floats, and only
// the sites too near the boundary for a float to tell (2 of 3 at 2/3) go by
// the exact rule, once for each pattern of byte counts (the 16-bit totals of
// the few larger hosts, one by one).

// Lanes 8g..8g+7 of the counts as floats.
template <class T>
__attribute__((target("avx2"))) inline __m256 count_group(counts32<T> c,
                                                          int g) {
  if constexpr (sizeof(T) == 1) {
    const __m128i h =
        g < 2 ? _mm256_castsi256_si128(c.v) : _mm256_extracti128_si256(c.v, 1);
    return byte_floats(g % 2 == 0 ? h : _mm_srli_si128(h, 8));
  } else {
    const __m256i w = g < 2 ? c.lo : c.hi;
    const __m128i h =
        g % 2 == 0 ? _mm256_castsi256_si128(w) : _mm256_extracti128_si256(w, 1);
    return _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(h));
  }
}

// Where `above` (a sum of counts) is below share * n for certain, and where
// a float cannot tell: rounding the share to a float moves share * n by at
// most 2^16 * 2^-24 = 0.004 for counts below 2^16, well inside the margin.
template <class T>
__attribute__((target("avx2"))) inline void below_share(counts32<T> above,
                                                        const __m256* share_n,
                                                        unsigned& below,
                                                        unsigned& unsure) {
  const __m256 margin = _mm256_set1_ps(1.0f / 64),
               minus = _mm256_set1_ps(-1.0f / 64);
  below = unsure = 0;
  for (int g = 0; g < 4; ++g) {
    const __m256 d = _mm256_sub_ps(count_group(above, g), share_n[g]);
    below |= static_cast<unsigned>(
                 _mm256_movemask_ps(_mm256_cmp_ps(d, minus, _CMP_LT_OQ)))
             << (8 * g);
    unsure |= static_cast<unsigned>(_mm256_movemask_ps(
                  _mm256_and_ps(_mm256_cmp_ps(d, minus, _CMP_GE_OQ),
                                _mm256_cmp_ps(d, margin, _CMP_LE_OQ))))
              << (8 * g);
  }
}

// The lanes of the bits of a 32-bit mask: byte t all ones where bit t is.
__attribute__((target("avx2"))) inline __m256i lanes_of(unsigned bits) {
  const __m256i spread =
      _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2,
                       2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3);
  const __m256i select =
      _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201ull));
  const __m256i b = _mm256_and_si256(
      _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(bits)), spread),
      select);
  return _mm256_cmpeq_epi8(b, select);
}

template <int K, class T>
__attribute__((target("avx2"))) void finish_codes_rule(const finish_context& f,
                                                       plane_ptrs<T> planes,
                                                       std::size_t width,
                                                       const block_out& out) {
  const site_rule& rule = *f.rule;
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo = code_table(f.code.data()),
                hi = code_table(f.code.data() + 16);
  const bool modal = f.formula == formula_type::MODUS;
  const bool threshold = !modal && rule.threshold.num != rule.threshold.den;
  const __m256 share = _mm256_set1_ps(
      static_cast<float>(static_cast<double>(rule.threshold.num) /
                         static_cast<double>(rule.threshold.den)));
  __m256i bad = zero;
  const std::size_t vec = width & ~std::size_t{31};
  for (std::size_t j = 0; j < vec; j += 32) {
    counts32<T> c[K];
    for (int s = 0; s < K; ++s) c[s] = counts32<T>::load(planes[s] + j);
    counts32<T> n = c[0], best = c[0];
    for (int s = 1; s < K; ++s) {
      n = n.add(c[s]);
      best = best.max(c[s]);
    }
    __m256i mask = zero, top = zero;
    for (int s = 0; s < K; ++s) {
      const __m256i bit = _mm256_set1_epi8(static_cast<char>(1 << s));
      top = _mm256_or_si256(top, _mm256_and_si256(c[s].eq(best), bit));
      if (!modal)
        mask = _mm256_or_si256(mask, _mm256_andnot_si256(c[s].zero(), bit));
    }
    if (modal) mask = top;
    // Of a threshold, where a site holds more states than its most frequent
    // ones: each state met whose more frequent states make up less than the
    // share.
    unsigned unsure = 0;
    const __m256i more = _mm256_xor_si256(mask, top);
    if (threshold && !_mm256_testz_si256(more, more)) {
      __m256 share_n[4];
      for (int g = 0; g < 4; ++g)
        share_n[g] = _mm256_mul_ps(share, count_group(n, g));
      __m256i taken = zero;
      for (int s = 0; s < K; ++s) {
        counts32<T> above = c[s].above(c[s]);  // nothing yet
        for (int t = 0; t < K; ++t)
          if (t != s) above = above.add(c[t].above(c[s]));
        unsigned below = 0, maybe = 0;
        below_share(above, share_n, below, maybe);
        unsure |= maybe;
        taken = _mm256_or_si256(
            taken,
            _mm256_and_si256(lanes_of(below),
                             _mm256_set1_epi8(static_cast<char>(1 << s))));
      }
      mask = _mm256_and_si256(mask, taken);
    }
    // Nothing counted, or fewer than the minimum: the empty mask, "?".
    const __m256i few = n.below(std::max(1u, rule.minimum));
    mask = _mm256_andnot_si256(few, mask);
    // The sites left to the exact rule are written below; a code their
    // provisional mask lacks is no failure.
    unsure &= ~static_cast<unsigned>(_mm256_movemask_epi8(few));
    __m256i missing = zero;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.dout + j),
                        codes_of<K>(lo, hi, mask, missing));
    bad = _mm256_or_si256(bad, _mm256_andnot_si256(lanes_of(unsure), missing));
    for (; unsure != 0; unsure &= unsure - 1) {
      const std::size_t t = j + static_cast<std::size_t>(__builtin_ctz(unsure));
      unsigned cc[K];
      std::uint64_t key = 0;
      bool keyed = true;
      for (int s = 0; s < K; ++s) {
        cc[s] = planes[s][t];
        keyed = keyed && cc[s] < 256;
        key |= std::uint64_t{cc[s] & 255} << (8 * s);
      }
      if (!keyed) {
        finish_site(rule, *f.terms, cc, t, out);
        continue;
      }
      auto& entry = memo_slot(f.memo->codes, key);
      if (entry.key != key) {
        char code = 0;
        finish_site(rule, *f.terms, cc, 0, block_out{&code, nullptr});
        entry.key = key;
        entry.code = code;
      }
      out.dout[t] = entry.code;
    }
  }
  if (!_mm256_testz_si256(bad, bad)) throw constraint_error(key_not_in_map_msg);
  finish_sites<K>(f, planes, vec, width, out);
}

// Codes of 32 sites at a time for any number of states: where the states
// counted (or the most frequent ones) are a single state, its index picks
// its code from two tables of 16 by byte shuffles; nothing counted is "?";
// the few sites of several states are finished one by one, polymorphisms
// included. A block with such sites, or with a state without a code, is
// written site by site, so that a failure leaves the cells before it
// written and none after it, as the plain kernel does.
template <class T>
__attribute__((target("avx2"))) void finish_codes_many(const finish_context& f,
                                                       plane_ptrs<T> planes,
                                                       std::size_t width,
                                                       const block_out& out) {
  const site_rule& rule = *f.rule;
  const int k = f.k;
  const bool modal = f.formula == formula_type::MODUS;
  std::array<char, 32> single{};
  std::copy(rule.single.begin(), rule.single.end(), single.begin());
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo = code_table(single.data()),
                hi = code_table(single.data() + 16);
  const __m256i one = _mm256_set1_epi8(1),
                missing = _mm256_set1_epi8(undefined_char);
  code_memo memo;
  const std::size_t vec = width & ~std::size_t{31};
  for (std::size_t j = 0; j < vec; j += 32) {
    // A modal value needs the largest count alone: nothing was counted
    // where it is 0.
    ahead(planes[0] + j);
    counts32<T> n = counts32<T>::load(planes[0] + j), best = n;
    if (modal) {
      for (int s = 1; s < k; ++s) {
        ahead(planes[s] + j);
        best = best.max(counts32<T>::load(planes[s] + j));
      }
    } else {
      for (int s = 1; s < k; ++s) {
        ahead(planes[s] + j);
        n = n.add(counts32<T>::load(planes[s] + j));
      }
    }
    const counts32<T> target = modal ? best : n;
    // How many states reach the target, and the last of them.
    __m256i hits = zero, index = zero;
    for (int s = 0; s < k; ++s) {
      const __m256i e = counts32<T>::load(planes[s] + j).eq(target);
      hits = _mm256_sub_epi8(hits, e);
      index =
          _mm256_blendv_epi8(index, _mm256_set1_epi8(static_cast<char>(s)), e);
    }
    const __m256i none = target.zero();
    const __m256i alone =
        _mm256_andnot_si256(none, _mm256_cmpeq_epi8(hits, one));
    __m256i code = _mm256_shuffle_epi8(lo, index);
    code = _mm256_blendv_epi8(code, _mm256_shuffle_epi8(hi, index),
                              _mm256_slli_epi16(index, 3));
    code = _mm256_blendv_epi8(missing, code, alone);
    const auto simple = static_cast<unsigned>(
        _mm256_movemask_epi8(_mm256_or_si256(alone, none)));
    const __m256i no_code = _mm256_cmpeq_epi8(code, zero);
    if (simple == ~0u && _mm256_testz_si256(no_code, no_code)) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.dout + j), code);
      continue;
    }
    alignas(32) char codes[32];
    _mm256_store_si256(reinterpret_cast<__m256i*>(codes), code);
    // The sites of several states (those met, or the most frequent): a
    // state's such sites are one compare of its plane, spread into their
    // masks, rather than a site's states looked for in every plane.
    const unsigned several = ~simple;
    std::uint32_t masks[32];
    if (several != 0) {
      std::fill_n(masks, 32, 0u);
      for (int s = 0; s < k; ++s) {
        const counts32<T> c = counts32<T>::load(planes[s] + j);
        auto sites =
            modal ? static_cast<unsigned>(_mm256_movemask_epi8(c.eq(target)))
                  : ~static_cast<unsigned>(_mm256_movemask_epi8(c.zero()));
        for (sites &= several; sites != 0; sites &= sites - 1)
          masks[__builtin_ctz(sites)] |= std::uint32_t{1} << s;
      }
    }
    for (std::size_t t = 0; t < 32; ++t) {
      if (simple >> t & 1) {
        if (codes[t] == 0) throw constraint_error(key_not_in_map_msg);
        out.dout[j + t] = codes[t];
      } else {
        memo.put(rule, out, j + t, masks[t]);
      }
    }
  }
  finish_sites<0>(f, planes, vec, width, out);
}

// Entropies: most sites are undefined (fewer than two states counted) or
// hold one state (entropy 0); 32 sites at a time are classified and written
// as -99.0 or 0.0, and only the rest are computed one by one: from byte
// counts of up to eight states through the memo, from the 16-bit totals of
// the few larger hosts and the counts of more states directly.
template <int K, class T>
__attribute__((target("avx2"))) void finish_entropies(const finish_context& f,
                                                      plane_ptrs<T> planes,
                                                      std::size_t width,
                                                      float* out) {
  const int k = K > 0 ? K : f.k;
  const bool memo = sizeof(T) == 1 && k <= 8;
  const __m256 minus_99 = _mm256_set1_ps(undefined_real);
  const std::size_t vec = width & ~std::size_t{31};
  // Of many states (K = 0), how many a site holds is counted as the planes
  // are summed, in one pass over them.
  const __m256i one_left = _mm256_set1_epi8(static_cast<char>(k - 1)),
                two_left = _mm256_set1_epi8(static_cast<char>(k - 2));
  for (std::size_t j = 0; j < vec; j += 32) {
    counts32<T> n = counts32<T>::load(planes[0] + j), best = n;
    __m256i simple, two = _mm256_setzero_si256();
    if constexpr (K == 0) {
      __m256i zeros = _mm256_sub_epi8(_mm256_setzero_si256(), n.zero());
      for (int s = 1; s < k; ++s) {
        ahead(planes[s] + j);
        const counts32<T> c = counts32<T>::load(planes[s] + j);
        n = n.add(c);
        best = best.max(c);
        zeros = _mm256_sub_epi8(zeros, c.zero());
      }
      simple = _mm256_cmpeq_epi8(zeros, one_left);
      two = _mm256_cmpeq_epi8(zeros, two_left);
    } else {
      for (int s = 1; s < k; ++s) n = n.add(counts32<T>::load(planes[s] + j));
      simple = _mm256_setzero_si256();
      for (int s = 0; s < k; ++s)
        simple =
            _mm256_or_si256(simple, counts32<T>::load(planes[s] + j).eq(n));
    }
    // Fewer than two (or than the minimum) counted: undefined.
    const __m256i undefined = n.below(std::max(2u, f.rule->minimum));
    simple = _mm256_or_si256(simple, undefined);
    const __m128i halves[2] = {_mm256_castsi256_si128(undefined),
                               _mm256_extracti128_si256(undefined, 1)};
    for (int g = 0; g < 4; ++g) {
      const __m128i bytes =
          g % 2 == 0 ? halves[g / 2] : _mm_srli_si128(halves[g / 2], 8);
      const __m256 m = _mm256_castsi256_ps(_mm256_cvtepi8_epi32(bytes));
      _mm256_storeu_ps(out + j + 8 * g, _mm256_and_ps(m, minus_99));
    }
    auto need = ~static_cast<unsigned>(_mm256_movemask_epi8(simple));
    // Sites of two states: their sum of two terms is the same in either
    // order, so the largest count and the rest give it, without looking for
    // the states among the planes.
    if constexpr (K == 0) {
      auto pairs = need & static_cast<unsigned>(_mm256_movemask_epi8(two));
      if (pairs != 0) {
        alignas(32) T nn[32], bb[32];
        n.store(nn);
        best.store(bb);
        need &= ~pairs;
        for (; pairs != 0; pairs &= pairs - 1) {
          const auto t = static_cast<std::size_t>(__builtin_ctz(pairs));
          const unsigned all = nn[t], top = bb[t];
          const float h =
              (0.0f - (*f.terms)(top, all)) - (*f.terms)(all - top, all);
          out[j + t] = h / f.rule->max_ent[all - 1];
        }
      }
    }
    if constexpr (K == 0) {
      if (need != 0 && !memo) {
        // The states of each site left, a plane at a time: a state's sites
        // are one compare of its plane, so a site's few states are found
        // without looking into every plane. The value depends on the counts
        // met, in the order of their states, alone: up to eight of up to
        // 255 each are a key of the memo.
        state_count met[32][max_k<K>];
        unsigned m[32] = {};
        for (int s = 0; s < k; ++s) {
          auto sites = need & ~static_cast<unsigned>(_mm256_movemask_epi8(
                                  counts32<T>::load(planes[s] + j).zero()));
          for (; sites != 0; sites &= sites - 1) {
            const auto t = static_cast<std::size_t>(__builtin_ctz(sites));
            met[t][m[t]++] = {static_cast<std::size_t>(s), planes[s][j + t]};
          }
        }
        for (; need != 0; need &= need - 1) {
          const auto t = static_cast<std::size_t>(__builtin_ctz(need));
          bool keyed = m[t] <= 8;
          std::uint64_t key = 0;
          for (unsigned i = 0; keyed && i < m[t]; ++i) {
            keyed = met[t][i].count < 256;
            key |= std::uint64_t{met[t][i].count & 255} << (8 * i);
          }
          if (!keyed) {
            finish_sparse(*f.rule, *f.terms, met[t], m[t], j + t,
                          block_out{nullptr, out});
            continue;
          }
          auto& entry = memo_slot(f.memo->memo, key);
          if (entry.key != key) {
            entry.key = key;
            finish_sparse(*f.rule, *f.terms, met[t], m[t], 0,
                          block_out{nullptr, &entry.value});
          }
          out[j + t] = entry.value;
        }
      }
    }
    if (need != 0 && !memo) {
      // The counts of the chunk side by side, read once: a site's states lie
      // in as many planes, far apart. The value depends on the counts met,
      // in the order of their states, alone: up to eight of up to 255 each
      // are a key of the memo.
      alignas(32) T local[max_k<K>][32];
      for (int s = 0; s < k; ++s)
        std::memcpy(local[s], planes[s] + j, sizeof local[s]);
      for (; need != 0; need &= need - 1) {
        const auto t = static_cast<std::size_t>(__builtin_ctz(need));
        state_count met[max_k<K>];
        std::size_t m = 0;
        bool keyed = true;
        std::uint64_t key = 0;
        for (int s = 0; s < k; ++s) {
          const unsigned c = local[s][t];
          if (c == 0) continue;
          keyed = keyed && m < 8 && c < 256;
          key |= std::uint64_t{c & 255} << (8 * (m & 7));
          met[m++] = {static_cast<std::size_t>(s), c};
        }
        if (!keyed) {
          finish_sparse(*f.rule, *f.terms, met, m, j + t,
                        block_out{nullptr, out});
          continue;
        }
        auto& entry = memo_slot(f.memo->memo, key);
        if (entry.key != key) {
          entry.key = key;
          finish_sparse(*f.rule, *f.terms, met, m, 0,
                        block_out{nullptr, &entry.value});
        }
        out[j + t] = entry.value;
      }
    }
    while (need != 0) {
      const std::size_t t = j + static_cast<std::size_t>(__builtin_ctz(need));
      need &= need - 1;
      unsigned cc[max_k<K>];
      for (int s = 0; s < k; ++s) cc[s] = planes[s][t];
      std::uint64_t key = 0;
      for (int s = 0; s < k; ++s) key |= std::uint64_t{cc[s]} << (8 * s);
      auto& entry = memo_slot(f.memo->memo, key);
      if (entry.key != key) {
        entry.key = key;
        finish_site(*f.rule, *f.terms, cc, 0, block_out{nullptr, &entry.value});
      }
      out[t] = entry.value;
    }
  }
  finish_sites<K>(f, planes, vec, width, block_out{nullptr, out});
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
// nothing was counted, then the k vectors interleaved site by site.
template <int K, class T>
__attribute__((target("avx2"))) void finish_frequencies(const finish_context& f,
                                                        plane_ptrs<T> planes,
                                                        std::size_t width,
                                                        float* out) {
  const int k = K > 0 ? K : f.k;
  const __m256 minus_99 = _mm256_set1_ps(undefined_real);
  // Fewer counted than the minimum (at least 1): undefined. A minimum
  // beyond the counts' float range is beyond any count.
  const __m256 minimum = _mm256_set1_ps(
      static_cast<float>(std::min<std::uint32_t>(f.rule->minimum, 1u << 24)));
  const std::size_t vec = width & ~std::size_t{7};
  for (std::size_t j = 0; j < vec; j += 8) {
    __m256 c[max_k<K>];
    // Sums of at most 5000 are exact in single precision.
    __m256 nf = _mm256_setzero_ps();
    for (int s = 0; s < k; ++s) {
      c[s] = count_floats(planes[s] + j);
      nf = _mm256_add_ps(nf, c[s]);
    }
    const __m256 none = _mm256_cmp_ps(nf, minimum, _CMP_LT_OQ);
    __m256 q[max_k<K>];
    for (int s = 0; s < k; ++s)
      q[s] = _mm256_blendv_ps(_mm256_div_ps(c[s], nf), minus_99, none);
    float* o = out + j * static_cast<std::size_t>(k);
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
      alignas(32) float tmp[max_k<K>][8];
      for (int s = 0; s < k; ++s) _mm256_store_ps(tmp[s], q[s]);
      for (int t = 0; t < 8; ++t)
        for (int s = 0; s < k; ++s) o[t * k + s] = tmp[s][t];
    }
  }
  finish_sites<K>(f, planes, vec, width, block_out{nullptr, out});
}

// The cells of `width` sites from planes of their state counts (bytes or
// 16-bit totals), by the formula: the counting kernel's planes and folded
// counters finish alike.
template <int K, class T>
__attribute__((target("avx2"))) void finish_planes(const finish_context& f,
                                                   plane_ptrs<T> planes,
                                                   std::size_t width,
                                                   const block_out& out) {
  switch (f.formula) {
    case formula_type::CONSENSUS:
    case formula_type::MODUS:
      if constexpr (K > 0)
        finish_codes<K, T>(f, planes, width, out);
      else
        finish_codes_many<T>(f, planes, width, out);
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

// The AVX2 kernel of four or five states: byte planes for hosts of up to
// 255 associates, 16-bit totals of 255-row batches for larger ones.
template <int K>
void count_avx2(const site_rule& rule, kernel_scratch& x,
                const char* const* rows, std::size_t nrows, std::size_t first,
                std::size_t width, block_out out) {
  static_assert(K > 0);
  const finish_context f(rule, x);
  const int k = K;
  kernel_scratch::vector_state& v = *f.memo;
  const char* states = rule.states.data();
  const std::size_t stride = kernel_block;
  if (nrows <= byte_batch) {
    count_rows<K>(rows, nrows, first, width, states, k, v.small, stride);
    const std::uint8_t* planes[max_k<K>];
    for (int s = 0; s < k; ++s) planes[s] = v.small + s * stride;
    finish_planes<K>(f, planes, width, out);
    return;
  }
  for (int s = 0; s < k; ++s)
    std::fill_n(v.wide + s * stride, width, std::uint16_t{0});
  for (std::size_t b = 0; b < nrows; b += byte_batch) {
    count_rows<K>(rows + b, std::min(byte_batch, nrows - b), first, width,
                  states, k, v.small, stride);
    for (int s = 0; s < k; ++s)
      for (std::size_t j = 0; j < width; ++j)
        v.wide[s * stride + j] += v.small[s * stride + j];
  }
  const std::uint16_t* planes[max_k<K>];
  for (int s = 0; s < k; ++s) planes[s] = v.wide + s * stride;
  finish_planes<K>(f, planes, width, out);
}

// Cells of folded byte counters: taken as a block's planes by the finishers
// of the counting kernel.
template <int K>
__attribute__((target("avx2"))) void finish_fold_avx2(
    const site_rule& rule, kernel_scratch& x, const std::uint8_t* acc,
    std::size_t n, std::size_t first, std::size_t count, block_out out) {
  const finish_context f(rule, x);
  const int k = K > 0 ? K : f.k;
  const std::uint8_t* planes[max_k<K>];
  for (int s = 0; s < k; ++s) planes[s] = acc + s * n + first;
  finish_planes<K>(f, planes, count, out);
}

// The masks of the states met at 32 sites from their planes of bits: each
// state's 32 bits spread to 32 bytes and make its bit of the masks.
template <int K>
__attribute__((target("avx2"))) inline __m256i met_masks(
    const std::uint8_t* acc, std::size_t stride, std::size_t byte, int k) {
  const __m256i spread =
      _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2,
                       2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3);
  const __m256i select =
      _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201ull));
  __m256i mask = _mm256_setzero_si256();
  for (int s = 0; s < (K > 0 ? K : k); ++s) {
    std::int32_t bits;
    std::memcpy(&bits, acc + s * stride + byte, sizeof bits);
    const __m256i b = _mm256_and_si256(
        _mm256_shuffle_epi8(_mm256_set1_epi32(bits), spread), select);
    mask = _mm256_or_si256(
        mask, _mm256_and_si256(_mm256_cmpeq_epi8(b, select),
                               _mm256_set1_epi8(static_cast<char>(1 << s))));
  }
  return mask;
}

// Codes of the states met, from their planes of bits, 32 sites at a time.
// The sites before the first whole byte of bits, and after the last 32, go
// the plain way. Four or five states (K) take their codes by shuffles; up
// to eight others (K = 0) from the rule's table one by one, polymorphisms
// included.
template <int K>
__attribute__((target("avx2"))) void finish_met_avx2(
    const site_rule& rule, const std::uint8_t* acc, std::size_t n,
    std::size_t first, std::size_t count, block_out out) {
  std::array<char, 32> code{};
  if (K > 0) std::copy(rule.code.begin(), rule.code.end(), code.begin());
  const __m256i lo = code_table(code.data()), hi = code_table(code.data() + 16);
  const std::size_t head = std::min(count, (8 - first % 8) % 8);
  finish_met_plain(rule, acc, n, first, head, out);
  const std::size_t stride = counter_width::met_stride(n);
  __m256i bad = _mm256_setzero_si256();
  std::size_t j = head;
  for (; j + 32 <= count; j += 32) {
    const __m256i mask =
        met_masks<K>(acc, stride, (first + j) / 8, static_cast<int>(rule.k));
    if constexpr (K > 0) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.dout + j),
                          codes_of<K>(lo, hi, mask, bad));
    } else {
      alignas(32) std::uint8_t masks[32];
      _mm256_store_si256(reinterpret_cast<__m256i*>(masks), mask);
      for (std::size_t t = 0; t < 32; ++t)
        out.put_code(rule, j + t, rule.code[masks[t]], masks[t]);
    }
  }
  if (!_mm256_testz_si256(bad, bad)) throw constraint_error(key_not_in_map_msg);
  finish_met_plain(rule, acc, n, first + j, count - j, out.from(j, 0));
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
  const int k = K > 0 ? K : f.k;
  kernel_scratch::vector_state& v = *f.memo;
  const std::size_t per_site =
      rule.formula == formula_type::FREQUENCIES ? rule.k : 1;
  for (std::size_t done = 0; done < count; done += kernel_block) {
    const std::size_t w = std::min(kernel_block, count - done);
    unpack_counters(rule, acc, n, first + done, w, width, v.small);
    const std::uint16_t* planes[max_k<K>];
    for (int s = 0; s < k; ++s) {
      const std::uint8_t* const since = v.small + s * w;
      const std::uint16_t* const total = wide + s * n + first + done;
      for (std::size_t j = 0; j < w; ++j)
        v.wide[s * w + j] = static_cast<std::uint16_t>(total[j] + since[j]);
      planes[s] = v.wide + s * w;
    }
    finish_planes<K>(f, planes, w, out.from(done, per_site));
  }
}

#endif

}  // namespace

kernel_set select_kernels(const site_rule& rule) {
  kernel_set set{count_plain,       fold_plain,       finish_fold_plain,
                 finish_wide_plain, finish_met_plain, finish_masks};
#ifdef ZURUD_X86_GROUP
  if (zurud::detail::use_avx2() && rule.formula != formula_type::GROUP_SIZE &&
      rule.k <= mask_states) {
    // The nucleotide kernels never meet a polymorphism; the kernels for
    // any number of states write them.
    const bool nucleotide_kernels = !rule.polymorphisms;
    if (rule.k == 4 && nucleotide_kernels) {
      set.count = count_avx2<4>;
      set.finish_fold = finish_fold_avx2<4>;
      set.finish_wide = finish_wide_avx2<4>;
      set.finish_met = finish_met_avx2<4>;
    } else if (rule.k == 5 && nucleotide_kernels) {
      set.count = count_avx2<5>;
      set.finish_fold = finish_fold_avx2<5>;
      set.finish_wide = finish_wide_avx2<5>;
      set.finish_met = finish_met_avx2<5>;
    } else if (rule.plain) {
      set.count = count_sparse_avx2;
      set.finish_fold = finish_fold_avx2<0>;
      set.finish_wide = finish_wide_avx2<0>;
      if (rule.k <= 8) set.finish_met = finish_met_avx2<0>;
      set.finish_masks = finish_masks_avx2;
    }
    // Other states under a minimum or a threshold are counted and finished
    // the plain way; their counters still fold with AVX2.
    set.fold = fold_avx2;
  }
#endif
  return set;
}

}  // namespace zurud::hostpara::detail
