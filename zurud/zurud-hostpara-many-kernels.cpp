#include "zurud/detail/hostpara-kernels.hpp"

// The AVX2 kernels for alphabets of any number of states up to 32 (proteins
// and standard characters). A kernel that keeps a counter per state
// compares every cell with every state, which for the twenty states of
// proteins costs five times what it costs for nucleotides. But in a host
// most sites hold one state or two: so the counting kernel finds, a site,
// the smallest and largest state met and counts the cells of each, then
// the same within those (rounds of peeling, over the stretches where a site
// is left), and counts state by state only the few sites still left; the
// folding kernel sets a state's bit in a mask a site with one shift; and
// both finish the sites of one state 32 at a time.
#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZURUD_X86_MANY 1
#endif

namespace zurud::hostpara::detail {

#ifdef ZURUD_X86_MANY

namespace {

constexpr std::size_t byte_batch = 255;

__attribute__((target("avx2"))) inline __m256i load(const void* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
__attribute__((target("avx2"))) inline void store(void* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}
__attribute__((target("avx2"))) inline __m256i table16(const void* t) {
  return _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
}

// The states of 32 bytes by index (32 for a byte that is none): for each
// high nibble under which states lie, a table of 16 by the low nibble.
struct state_index {
  explicit state_index(const site_rule& rule) {
    for (unsigned h = 0; h < 16; ++h) {
      std::uint8_t t[16];
      bool used = false;
      for (unsigned l = 0; l < 16; ++l) {
        const std::size_t s = rule.index[h << 4 | l];
        t[l] = static_cast<std::uint8_t>(s < rule.k ? s : 32);
        used = used || s < rule.k;
      }
      if (!used) continue;
      nibble[count] = static_cast<std::uint8_t>(h);
      std::memcpy(table[count++], t, sizeof t);
    }
  }
  __attribute__((target("avx2"))) __m256i of(__m256i x) const {
    const __m256i low = _mm256_set1_epi8(15);
    const __m256i l = _mm256_and_si256(x, low);
    const __m256i h = _mm256_and_si256(_mm256_srli_epi16(x, 4), low);
    __m256i index = _mm256_set1_epi8(32);
    for (int i = 0; i < count; ++i)
      index = _mm256_blendv_epi8(
          index, _mm256_shuffle_epi8(table16(table[i]), l),
          _mm256_cmpeq_epi8(h, _mm256_set1_epi8(static_cast<char>(nibble[i]))));
    return index;
  }
  int count = 0;
  std::uint8_t nibble[16] = {};
  std::uint8_t table[16][16] = {};
};

// The codes of single states by index (0..31), by byte shuffles from two
// tables of 16.
struct single_codes {
  explicit single_codes(const site_rule& rule) {
    std::array<char, 32> code{};
    std::copy(rule.single.begin(), rule.single.end(), code.begin());
    std::memcpy(lo, code.data(), 16);
    std::memcpy(hi, code.data() + 16, 16);
  }
  __attribute__((target("avx2"))) __m256i of(__m256i index) const {
    // Bit 4 of the index, moved to bit 7, picks the upper table.
    return _mm256_blendv_epi8(_mm256_shuffle_epi8(table16(lo), index),
                              _mm256_shuffle_epi8(table16(hi), index),
                              _mm256_slli_epi16(index, 3));
  }
  char lo[16], hi[16];
};

// Writes the codes of 32 sites from dout[j] on: `code` where `simple` (one
// state, or "?" for none), the rule site by site elsewhere (`rest(t)`
// finishes site t). Where a set may lack a code (states outside the
// alphabet), a block that is not all simple is written site by site in
// order, so that a failure leaves the cells before it written and none
// after it.
template <class Rest>
__attribute__((target("avx2"))) inline void put_codes(
    const site_rule& rule, const block_out& out, std::size_t j, __m256i code,
    __m256i simple, Rest rest) {
  auto ok = static_cast<unsigned>(_mm256_movemask_epi8(simple));
  const __m256i none = _mm256_cmpeq_epi8(code, _mm256_setzero_si256());
  if (ok == ~0u && _mm256_testz_si256(none, none)) {
    store(out.dout + j, code);
    return;
  }
  if (rule.foreign == 0) {
    store(out.dout + j, code);
    for (ok = ~ok; ok != 0; ok &= ok - 1)
      rest(j + static_cast<std::size_t>(std::countr_zero(ok)));
    return;
  }
  alignas(32) char codes[32];
  _mm256_store_si256(reinterpret_cast<__m256i*>(codes), code);
  for (std::size_t t = 0; t < 32; ++t) {
    if ((ok >> t & 1) == 0) {
      rest(j + t);
    } else {
      if (codes[t] == 0) throw constraint_error(key_not_in_map_msg);
      out.dout[j + t] = codes[t];
    }
  }
}

// ---------------------------------------------------------------------------
// Counting.

// Whether each of 32 bytes is a state: a byte's low nibble picks a byte of
// bits from a table for bytes below 128 or one for the rest, its high
// nibble the bit.
struct state_test {
  explicit state_test(const site_rule& rule) {
    for (unsigned b = 0; b < 256; ++b)
      if (rule.index[b] < rule.k)
        (b < 128 ? low : high)[b & 15] |=
            static_cast<std::uint8_t>(1u << (b >> 4 & 7));
    for (unsigned h = 0; h < 16; ++h)
      bit[h] = static_cast<std::uint8_t>(1u << (h & 7));
  }
  // 0xFF where the byte is not a state.
  __attribute__((target("avx2"))) __m256i not_state(__m256i x) const {
    const __m256i nibble = _mm256_set1_epi8(15);
    const __m256i l = _mm256_and_si256(x, nibble);
    const __m256i h = _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble);
    const __m256i row =
        _mm256_blendv_epi8(_mm256_shuffle_epi8(table16(low), l),
                           _mm256_shuffle_epi8(table16(high), l), x);
    const __m256i hit =
        _mm256_and_si256(row, _mm256_shuffle_epi8(table16(bit), h));
    return _mm256_cmpeq_epi8(hit, _mm256_setzero_si256());
  }
  // Takes the cells x into the ranges l..h and the counts c of states.
  __attribute__((target("avx2"))) void add(__m256i x, __m256i& l, __m256i& h,
                                           __m256i& c) const {
    const __m256i out = not_state(x);
    l = _mm256_min_epu8(l, _mm256_or_si256(x, out));
    h = _mm256_max_epu8(h, _mm256_andnot_si256(out, x));
    c = _mm256_sub_epi8(c, _mm256_cmpeq_epi8(out, _mm256_setzero_si256()));
  }
  std::uint8_t low[16] = {}, high[16] = {}, bit[16] = {};
};

// Rounds of peeling: round 0 takes the smallest and largest state met at
// each site and counts the cells of each; round r + 1 does the same with
// the states strictly between those of round r. A site is done when its
// rounds have counted all its cells: most sites hold one state or two and
// are done after round 0, nearly all after round 2; a round passes over
// only the stretches of 32 sites where some site is not done.
constexpr std::size_t rounds = 3;

// The planes of a stretch of sites: per round the ends (bytes; a round that
// found no state has lo 255 and hi 0) and the cells of each (16 bits), and
// the cells that are states.
struct peel_planes {
  std::uint8_t* lo[rounds];
  std::uint8_t* hi[rounds];
  std::uint16_t* cl[rounds];
  std::uint16_t* ch[rounds];
  std::uint16_t* n;
  std::uint16_t* counted;      // the cells the rounds so far have counted
  std::uint8_t* few;           // n, at most 255
  std::uint8_t *t8, *u8, *v8;  // byte counters of a batch of rows
};

// Adds 32 byte counts to 32 16-bit ones.
__attribute__((target("avx2"))) inline void add_bytes(std::uint16_t* to,
                                                      const std::uint8_t* b) {
  const __m128i* q = reinterpret_cast<const __m128i*>(b);
  for (int h = 0; h < 2; ++h)
    store(to + 16 * h,
          _mm256_add_epi16(load(to + 16 * h),
                           _mm256_cvtepu8_epi16(_mm_loadu_si128(q + h))));
}

// Takes round r's counts of the 32 sites from j into `counted` (an end
// counts where the round found it, the upper one where it differs from the
// lower); not 0 when a site's cells are not all counted yet.
__attribute__((target("avx2"))) inline unsigned account(const peel_planes& p,
                                                        std::size_t r,
                                                        std::size_t j) {
  const __m256i l = load(p.lo[r] + j), h = load(p.hi[r] + j);
  const __m256i found = _mm256_cmpeq_epi8(_mm256_min_epu8(l, h), l);
  const __m256i two = _mm256_andnot_si256(_mm256_cmpeq_epi8(l, h), found);
  unsigned open = 0;
  for (int half = 0; half < 2; ++half) {
    const std::size_t t = j + 16 * static_cast<std::size_t>(half);
    const __m256i f =
        _mm256_cvtepi8_epi16(half == 0 ? _mm256_castsi256_si128(found)
                                       : _mm256_extracti128_si256(found, 1));
    const __m256i w =
        _mm256_cvtepi8_epi16(half == 0 ? _mm256_castsi256_si128(two)
                                       : _mm256_extracti128_si256(two, 1));
    const __m256i c = _mm256_add_epi16(
        load(p.counted + t),
        _mm256_add_epi16(_mm256_and_si256(f, load(p.cl[r] + t)),
                         _mm256_and_si256(w, load(p.ch[r] + t))));
    store(p.counted + t, c);
    const __m256i done = _mm256_cmpeq_epi16(c, load(p.n + t));
    // Two mask bits a 16-bit lane; keep one.
    open |= (~static_cast<unsigned>(_mm256_movemask_epi8(done)) & 0x55555555u)
            << half;
  }
  return open;
}

__attribute__((target("avx2"))) inline __m256i above(__m256i x, __m256i a) {
  // x > a, unsigned.
  return _mm256_andnot_si256(_mm256_cmpeq_epi8(x, a),
                             _mm256_cmpeq_epi8(_mm256_max_epu8(x, a), x));
}

// The ends of round r (r > 0: among the states strictly inside round r - 1's
// ends) of the chunks of 32 sites listed, over `nrows` rows (at most 255),
// four rows at a time; n counts the states in round 0.
__attribute__((target("avx2"))) void peel_ends(
    const state_test& test, const char* const* rows, std::size_t nrows,
    std::size_t first, const std::vector<std::uint32_t>& chunks,
    const peel_planes& p, std::size_t r) {
  for (std::size_t q0 = 0; q0 < nrows; q0 += 4) {
    const std::size_t m = std::min<std::size_t>(4, nrows - q0);
    for (const std::uint32_t j : chunks) {
      __m256i l = load(p.lo[r] + j), h = load(p.hi[r] + j);
      __m256i c = r == 0 ? load(p.t8 + j) : _mm256_setzero_si256();
      const __m256i inner_lo = r == 0 ? l : load(p.lo[r - 1] + j);
      const __m256i inner_hi = r == 0 ? h : load(p.hi[r - 1] + j);
      for (std::size_t q = q0; q < q0 + m; ++q) {
        const __m256i x = load(rows[q] + first + j);
        __m256i out = test.not_state(x);
        if (r > 0)
          out = _mm256_or_si256(
              out, _mm256_xor_si256(
                       _mm256_and_si256(above(x, inner_lo), above(inner_hi, x)),
                       _mm256_set1_epi8(-1)));
        l = _mm256_min_epu8(l, _mm256_or_si256(x, out));
        h = _mm256_max_epu8(h, _mm256_andnot_si256(out, x));
        c = _mm256_sub_epi8(c, _mm256_cmpeq_epi8(out, _mm256_setzero_si256()));
      }
      store(p.lo[r] + j, l);
      store(p.hi[r] + j, h);
      if (r == 0) store(p.t8 + j, c);
    }
  }
}

// The cells of round r's two ends at the chunks listed, into u8 and v8.
__attribute__((target("avx2"))) void count_ends(
    const char* const* rows, std::size_t nrows, std::size_t first,
    const std::vector<std::uint32_t>& chunks, const peel_planes& p,
    std::size_t r) {
  for (std::size_t q0 = 0; q0 < nrows; q0 += 4) {
    const std::size_t m = std::min<std::size_t>(4, nrows - q0);
    for (const std::uint32_t j : chunks) {
      const __m256i l = load(p.lo[r] + j), h = load(p.hi[r] + j);
      __m256i a = load(p.u8 + j), b = load(p.v8 + j);
      for (std::size_t q = q0; q < q0 + m; ++q) {
        const __m256i x = load(rows[q] + first + j);
        a = _mm256_sub_epi8(a, _mm256_cmpeq_epi8(x, l));
        b = _mm256_sub_epi8(b, _mm256_cmpeq_epi8(x, h));
      }
      store(p.u8 + j, a);
      store(p.v8 + j, b);
    }
  }
}

// 0xFF at the sites of 32 whose range holds several states (lo < hi; a
// site of none has lo 255 and hi 0).
__attribute__((target("avx2"))) inline __m256i several_states(
    const std::uint8_t* lo, const std::uint8_t* hi) {
  const __m256i l = load(lo), h = load(hi);
  return _mm256_andnot_si256(_mm256_cmpeq_epi8(l, h),
                             _mm256_cmpeq_epi8(_mm256_min_epu8(l, h), l));
}

// Peels the states of the first `vec` sites (whole vectors, at most
// kernel_block) in rounds; `open` lists the chunks where a site is not yet
// done.
__attribute__((target("avx2"))) void peel(const site_rule& rule,
                                          const char* const* rows,
                                          std::size_t nrows, std::size_t first,
                                          std::size_t vec, const peel_planes& p,
                                          std::vector<std::uint32_t>& open) {
  const state_test test(rule);
  const std::size_t padded = vec;
  open.clear();
  for (std::size_t j = 0; j < padded; j += 32)
    open.push_back(static_cast<std::uint32_t>(j));
  for (std::size_t r = 0; r < rounds && !open.empty(); ++r) {
    for (std::size_t b = 0; b < nrows; b += byte_batch) {
      const std::size_t m = std::min(byte_batch, nrows - b);
      if (r == 0) std::memset(p.t8, 0, padded);
      peel_ends(test, rows + b, m, first, open, p, r);
      if (r == 0)
        for (std::size_t j = 0; j < padded; ++j) p.n[j] += p.t8[j];
    }
    if (r == 0) {
      for (std::size_t j = 0; j < padded; ++j)
        p.few[j] = static_cast<std::uint8_t>(std::min<unsigned>(p.n[j], 255));
      // Chunks whose sites hold one state each are done: its count is n.
      std::size_t several = 0;
      for (const std::uint32_t j : open) {
        const __m256i v = several_states(p.lo[0] + j, p.hi[0] + j);
        if (!_mm256_testz_si256(v, v)) open[several++] = j;
      }
      open.resize(several);
    }
    for (std::size_t b = 0; b < nrows; b += byte_batch) {
      for (const std::uint32_t j : open) {
        store(p.u8 + j, _mm256_setzero_si256());
        store(p.v8 + j, _mm256_setzero_si256());
      }
      count_ends(rows + b, std::min(byte_batch, nrows - b), first, open, p, r);
      for (const std::uint32_t j : open) {
        add_bytes(p.cl[r] + j, p.u8 + j);
        add_bytes(p.ch[r] + j, p.v8 + j);
      }
    }
    // The chunks with a site whose rounds have not counted all its cells.
    std::size_t still = 0;
    for (const std::uint32_t j : open)
      if (account(p, r, j) != 0) open[still++] = j;
    open.resize(still);
  }
}

// The states met at site j as the rounds found them, in increasing order;
// false when they did not count all its cells.
bool peeled_states(const site_rule& rule, const peel_planes& p, std::size_t j,
                   state_count* out, std::size_t& m) {
  unsigned counted = 0;
  std::size_t low = 0, high = 2 * rounds;
  state_count ends[2 * rounds];
  for (std::size_t r = 0; r < rounds && p.lo[r][j] <= p.hi[r][j]; ++r) {
    ends[low++] = {rule.index[p.lo[r][j]], p.cl[r][j]};
    counted += p.cl[r][j];
    if (p.lo[r][j] == p.hi[r][j]) break;
    ends[--high] = {rule.index[p.hi[r][j]], p.ch[r][j]};
    counted += p.ch[r][j];
  }
  m = 0;
  for (std::size_t i = 0; i < low; ++i) out[m++] = ends[i];
  for (std::size_t i = high; i < 2 * rounds; ++i) out[m++] = ends[i];
  return counted == p.n[j];
}

}  // namespace

namespace {

__attribute__((target("avx2"))) void count_sparse(
    const site_rule& rule, kernel_scratch& x, const char* const* rows,
    std::size_t nrows, std::size_t first, std::size_t width, block_out out) {
  const std::size_t k = rule.k;
  // Planes of whole vectors: the last vector of a block may pass its width.
  constexpr std::size_t size = kernel_block;
  x.bytes.resize((2 * rounds + 4) * size);
  x.wide.resize((2 * rounds + 2) * size);
  peel_planes p;
  std::uint8_t* b = x.bytes.data();
  std::uint16_t* w = x.wide.data();
  for (std::size_t r = 0; r < rounds; ++r) {
    p.lo[r] = b;
    p.hi[r] = b + size;
    b += 2 * size;
    p.cl[r] = w;
    p.ch[r] = w + size;
    w += 2 * size;
    std::memset(p.lo[r], 0xFF, size);
    std::memset(p.hi[r], 0, size);
  }
  p.n = w;
  p.counted = w + size;
  p.few = b;
  p.t8 = b + size;
  p.u8 = b + 2 * size;
  p.v8 = b + 3 * size;
  std::fill(x.wide.begin(), x.wide.end(), std::uint16_t{0});
  const std::size_t vec = width & ~std::size_t{31};
  peel(rule, rows, nrows, first, vec, p, x.chunks);

  // Sites of several states by the rule, one by one: from the states the
  // rounds found, or, for the few they did not finish, counted state by
  // state as they come (the lines of the rows one site reads serve the
  // next sites too).
  code_memo memo;
  const bool codes = rule.formula == formula_type::CONSENSUS ||
                     rule.formula == formula_type::MODUS;
  const auto rest = [&](std::size_t j) {
    state_count found[2 * rounds];
    std::size_t m = 0;
    if (j < vec && peeled_states(rule, p, j, found, m)) {
      if (!codes) {
        finish_sparse(rule, x.terms, found, m, j, out);
        return;
      }
      // The states met, or for modal values the most frequent ones.
      unsigned best = 0;
      for (std::size_t i = 0; i < m; ++i) best = std::max(best, found[i].count);
      std::uint32_t mask = 0;
      for (std::size_t i = 0; i < m; ++i)
        if (rule.formula == formula_type::CONSENSUS || found[i].count == best)
          mask |= std::uint32_t{1} << found[i].state;
      memo.put(rule, out, j, mask);
      return;
    }
    // Four tallies taken in turn, so that rows of one state do not wait for
    // each other's increments; one slot more for cells of no state.
    unsigned t[4][mask_states + 1] = {};
    std::size_t r = 0;
    for (; r + 4 <= nrows; r += 4)
      for (std::size_t q = 0; q < 4; ++q)
        ++t[q][rule.index[static_cast<unsigned char>(rows[r + q][first + j])]];
    for (; r < nrows; ++r)
      ++t[0][rule.index[static_cast<unsigned char>(rows[r][first + j])]];
    unsigned c[mask_states];
    for (std::size_t s = 0; s < k; ++s)
      c[s] = t[0][s] + t[1][s] + t[2][s] + t[3][s];
    finish_site(rule, x.terms, c, j, out);
  };
  const std::uint8_t* const lo = p.lo[0];
  const std::uint8_t* const hi = p.hi[0];
  const std::uint8_t* const few = p.few;
  switch (rule.formula) {
    case formula_type::CONSENSUS:
    case formula_type::MODUS: {
      const state_index states(rule);
      const single_codes single(rule);
      const __m256i missing = _mm256_set1_epi8(undefined_char);
      for (std::size_t j = 0; j < vec; j += 32) {
        const __m256i none =
            _mm256_cmpeq_epi8(load(few + j), _mm256_setzero_si256());
        const __m256i code = _mm256_blendv_epi8(
            single.of(states.of(load(lo + j))), missing, none);
        put_codes(rule, out, j, code,
                  _mm256_xor_si256(several_states(lo + j, hi + j),
                                   _mm256_set1_epi8(-1)),
                  rest);
      }
      break;
    }
    case formula_type::ENTROPY:
      // Below two cells undefined, of one state 0: only the sites of
      // several states are computed.
      for (std::size_t j = 0; j < vec; j += 32) {
        const __m256i undefined = _mm256_cmpeq_epi8(
            _mm256_min_epu8(load(few + j), _mm256_set1_epi8(1)), load(few + j));
        for (std::size_t t = 0; t < 32; ++t) out.qout[j + t] = 0.0f;
        auto bits = static_cast<unsigned>(_mm256_movemask_epi8(undefined));
        for (; bits != 0; bits &= bits - 1)
          out.qout[j + static_cast<std::size_t>(std::countr_zero(bits))] =
              undefined_real;
        bits = static_cast<unsigned>(
            _mm256_movemask_epi8(several_states(lo + j, hi + j)));
        for (; bits != 0; bits &= bits - 1)
          rest(j + static_cast<std::size_t>(std::countr_zero(bits)));
      }
      break;
    default:
      for (std::size_t j = 0; j < vec; ++j) rest(j);
      break;
  }
  for (std::size_t j = vec; j < width; ++j) rest(j);
}

}  // namespace

void count_sparse_avx2(const site_rule& rule, kernel_scratch& scratch,
                       const char* const* rows, std::size_t nrows,
                       std::size_t first, std::size_t width, block_out out) {
  // The stretch of the rows that one part passes over a few times, and the
  // sites of more than two states read again, stay in the second-level
  // cache: 256 KiB of rows a part.
  const std::size_t part = std::clamp<std::size_t>(
      (std::size_t{1} << 18) / std::max<std::size_t>(nrows, 1) &
          ~std::size_t{31},
      128, kernel_block);
  const std::size_t per_site =
      rule.formula == formula_type::FREQUENCIES ? rule.k : 1;
  for (std::size_t done = 0; done < width; done += part)
    count_sparse(rule, scratch, rows, nrows, first + done,
                 std::min(part, width - done), out.from(done, per_site));
}

// ---------------------------------------------------------------------------
// Folding into site masks, and their codes.

namespace {

// R rows at a time: each cell's state index becomes its bit by a shift of
// 1 (an index of 32 shifts it out), eight sites a vector of masks.
template <int R>
__attribute__((target("avx2"))) void fold_rows_masks(const site_rule& rule,
                                                     const state_index& states,
                                                     const char* const* rows,
                                                     std::size_t n, bool fresh,
                                                     std::uint8_t* acc) {
  const std::size_t vec = n & ~std::size_t{31};
  const __m256i one = _mm256_set1_epi32(1);
  for (std::size_t j = 0; j < vec; j += 32) {
    __m256i m[4] = {};
    for (int r = 0; r < R; ++r) {
      const __m256i index = states.of(load(rows[r] + j));
      const __m128i halves[2] = {_mm256_castsi256_si128(index),
                                 _mm256_extracti128_si256(index, 1)};
      for (int g = 0; g < 4; ++g) {
        const __m128i bytes =
            g % 2 == 0 ? halves[g / 2] : _mm_srli_si128(halves[g / 2], 8);
        m[g] = _mm256_or_si256(
            m[g], _mm256_sllv_epi32(one, _mm256_cvtepu8_epi32(bytes)));
      }
    }
    for (int g = 0; g < 4; ++g) {
      std::uint8_t* const p = acc + 4 * (j + 8 * g);
      store(p, fresh ? m[g] : _mm256_or_si256(m[g], load(p)));
    }
  }
  fold_sites(rule, rows, R, n, counter_width{32}, vec, acc);
}

using fold_masks_fn = void (*)(const site_rule&, const state_index&,
                               const char* const*, std::size_t, bool,
                               std::uint8_t*);
template <std::size_t... R>
constexpr std::array<fold_masks_fn, sizeof...(R)> masks_by_rows(
    std::index_sequence<R...>) {
  return {fold_rows_masks<static_cast<int>(R) + 1>...};
}
constexpr auto fold_masks_by_rows =
    masks_by_rows(std::make_index_sequence<fold_max_rows>());

// Eight masks as eight dwords: -1 where a mask is one state, and its index
// (from the exponent of the mask as a float, which is exact for a power of
// two; 2^31 comes out negative and the sign is dropped).
struct mask_parts {
  __m256i alone, none, index;
};
__attribute__((target("avx2"))) inline mask_parts parts_of(__m256i m) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i none = _mm256_cmpeq_epi32(m, zero);
  const __m256i pow2 = _mm256_cmpeq_epi32(
      _mm256_and_si256(m, _mm256_sub_epi32(m, _mm256_set1_epi32(1))), zero);
  const __m256i exponent = _mm256_and_si256(
      _mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(m)), 23),
      _mm256_set1_epi32(0xFF));
  return {_mm256_andnot_si256(none, pow2), none,
          _mm256_and_si256(_mm256_sub_epi32(exponent, _mm256_set1_epi32(127)),
                           _mm256_set1_epi32(31))};
}

// Four vectors of eight dwords as 32 bytes in site order.
__attribute__((target("avx2"))) inline __m256i bytes_of(const __m256i* v) {
  const __m256i words = _mm256_packs_epi16(_mm256_packs_epi32(v[0], v[1]),
                                           _mm256_packs_epi32(v[2], v[3]));
  return _mm256_permutevar8x32_epi32(words,
                                     _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

__attribute__((target("avx2"))) void finish_masks_vec(const site_rule& rule,
                                                      const std::uint8_t* acc,
                                                      std::size_t first,
                                                      std::size_t count,
                                                      block_out out) {
  const single_codes codes(rule);
  const __m256i missing = _mm256_set1_epi8(undefined_char);
  code_memo memo;
  const auto rest = [&](std::size_t j) {
    memo.put(rule, out, j, counter_width::mask(acc, first + j));
  };
  const std::size_t vec = count & ~std::size_t{31};
  for (std::size_t j = 0; j < vec; j += 32) {
    __m256i alone[4], none[4], index[4];
    for (int g = 0; g < 4; ++g) {
      const mask_parts p = parts_of(load(acc + 4 * (first + j + 8 * g)));
      alone[g] = p.alone;
      none[g] = p.none;
      index[g] = p.index;
    }
    const __m256i empty = bytes_of(none);
    const __m256i code =
        _mm256_blendv_epi8(codes.of(bytes_of(index)), missing, empty);
    put_codes(rule, out, j, code, _mm256_or_si256(bytes_of(alone), empty),
              rest);
  }
  finish_masks(rule, acc, first + vec, count - vec, out.from(vec, 0));
}

}  // namespace

void fold_masks_avx2(const site_rule& rule, const char* const* rows,
                     std::size_t nrows, std::size_t n, bool fresh,
                     std::uint8_t* acc) {
  const state_index states(rule);
  fold_masks_by_rows[nrows - 1](rule, states, rows, n, fresh, acc);
}

void finish_masks_avx2(const site_rule& rule, const std::uint8_t* acc,
                       std::size_t first, std::size_t count, block_out out) {
  finish_masks_vec(rule, acc, first, count, out);
}

#endif

}  // namespace zurud::hostpara::detail
