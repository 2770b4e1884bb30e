#include "zurud/zurud-hostpara.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZURUD_X86_GROUP 1
#endif

namespace zurud::hostpara {

// ---------------------------------------------------------------------------
// Associations.

bool operator<(const association& a, const association& b) noexcept {
  const int c = a.host.compare(b.host);
  return c < 0 || (c == 0 && a.para < b.para);
}

bool equal_assoc(const association& a, const association& b) noexcept {
  return a.host == b.host && a.para == b.para;
}

std::uint32_t id_assoc(const association& a) noexcept {
  std::string key;
  key.reserve(a.host.size() + 1 + a.para.size());
  key += a.host;
  key += static_cast<char>(28);
  key += a.para;
  return sets::string_hash(key);
}

namespace {

// A word of the association file, read as get_word reads it; `line_ended`
// tells whether the delimiter it consumed ended its line. Besides the line
// feed, a carriage return that no line feed follows ends a line: tables
// saved by some spreadsheets end their lines that way.
std::string assoc_word(read::text_input& in, bool& line_ended) {
  std::string word;
  line_ended = false;
  for (;;) {
    if (!word.empty() && in.end_of_line()) return word;
    const char c = in.read_char();
    if (!whitespace.contains(c)) {
      word += c;
    } else if (!word.empty()) {
      line_ended = c == '\r' && !in.end_of_line();
      return word;
    }
  }
}

// The rest of a line after a pair, up to and including its line end (a line
// feed, or a carriage return without one). Words there are noted.
void skip_rest(read::text_input& in, assoc_notes* notes) {
  const std::int64_t line = notes != nullptr ? in.line() : 0;
  std::string rest;
  for (;;) {
    if (in.exhausted()) break;
    if (in.end_of_line()) {
      in.skip_line();
      break;
    }
    const char c = in.read_char();
    if (c == '\r' && !in.end_of_line()) break;
    if (rest.size() < 40) rest += c;
  }
  if (notes == nullptr) return;
  const std::size_t first = rest.find_first_not_of(" \t\r\v\f");
  if (first == std::string::npos) return;
  if (notes->extra_words_lines++ == 0) {
    notes->extra_words_line = line;
    const std::size_t last = rest.find_last_not_of(" \t\r\v\f");
    notes->extra_words = rest.substr(first, last - first + 1);
  }
}

template <typename Set>
void read_pairs(read::text_input& in, Set& set, assoc_notes* notes) {
  association a;
  bool line_ended = false;
  for (;;) {
    // Whitespace and line ends alone after the last pair end the file: a
    // trailing empty line is not the start of another pair.
    if (in.skip_members(whitespace)) return;
    a.para = assoc_word(in, line_ended);
    try {
      a.host = assoc_word(in, line_ended);
    } catch (end_of_file_error& e) {
      e.add_detail("the association file ended in the middle of a pair, "
                   "after associate \"" + a.para + "\"");
      throw;
    }
    if (!set.insert(a).second)
      throw constraint_error(element_in_set_msg,
                             "the pair \"" + a.para + " " + a.host +
                                 "\" occurs twice in the association file");
    if (!line_ended && !in.end_of_line()) skip_rest(in, notes);
  }
}

}  // namespace

void read_assoc(read::text_input& in, ordered_assocs& set,
                assoc_notes* notes) {
  read_pairs(in, set, notes);
}

void read_assoc(read::text_input& in, assoc_sets& set, assoc_notes* notes) {
  read_pairs(in, set, notes);
}

// ---------------------------------------------------------------------------
// Numeric host map and filtering.

void to_numeric_host_map(numeric_host_maps& map, const ordered_assocs& assocs,
                         const sets::taxon_maps& taxa, text_output& err) {
  for (const association& a : assocs) {
    try {
      const auto row = taxa.find(a.para);
      if (row == taxa.end()) throw constraint_error(key_not_in_map_msg);
      map[a.host].insert(row->second);
    } catch (const constraint_error&) {
      err.put_line("Unknown parasite: " + a.para);
      throw;
    }
  }
}

void filter(numeric_host_maps& map, std::int32_t minimum, text_output& err) {
  for (auto it = map.begin(); it != map.end();) {
    if (static_cast<std::int64_t>(it->second.size()) >= minimum) {
      ++it;
      continue;
    }
    err.put_line("WARNING: Removing host " + it->first +
                 " (# associates below threshold)");
    it = map.erase(it);
  }
}

// ---------------------------------------------------------------------------
// Entropy and modal values.

namespace {

// ln(p) * p for p = c / n, every step rounded to single precision. The
// logarithm is taken in extended precision so that its rounding to float is
// the correctly rounded value.
float entropy_term(std::int64_t c, std::int64_t n) {
  const float p = static_cast<float>(c) / static_cast<float>(n);
  const float ln = static_cast<float>(std::log(static_cast<long double>(p)));
  return ln * p;
}

// Entropy of a group from its counts in increasing code order.
float entropy_of_counts(const std::int64_t* counts, std::size_t k) {
  std::int64_t n = 0;
  std::size_t distinct = 0;
  for (std::size_t s = 0; s < k; ++s) {
    n += counts[s];
    distinct += counts[s] > 0;
  }
  if (distinct == 0) throw constraint_error("entropy of an empty group");
  if (distinct == 1) return 0.0f;
  float h = 0.0f;
  for (std::size_t s = 0; s < k; ++s)
    if (counts[s] > 0) h = h - entropy_term(counts[s], n);
  return h;
}

std::array<std::int64_t, 256> byte_counts(std::string_view s) {
  std::array<std::int64_t, 256> counts{};
  for (char c : s) ++counts[static_cast<unsigned char>(c)];
  return counts;
}

}  // namespace

float entropy(std::string_view s) {
  const auto counts = byte_counts(s);
  return entropy_of_counts(counts.data(), counts.size());
}

void max_entropy(ent_val_type& result, const char_set& states) {
  const std::size_t k = static_cast<std::size_t>(states.size());
  if (k == 0) throw constraint_error("maximum entropy over no states");
  // The first i symbols of the states repeated in code order: every state
  // holds i / k of them, the first i % k states one more.
  std::vector<std::int64_t> counts(k);
  for (std::size_t i = 1; i <= result.size(); ++i) {
    for (std::size_t s = 0; s < k; ++s)
      counts[s] = static_cast<std::int64_t>(i / k + (s < i % k ? 1 : 0));
    result[i - 1] = entropy_of_counts(counts.data(), k);
  }
}

std::string modal_values(std::string_view s) {
  const auto counts = byte_counts(s);
  std::int64_t best = 0;
  std::size_t distinct = 0;
  for (std::int64_t c : counts) {
    distinct += c > 0;
    if (c > best) best = c;
  }
  if (distinct == 0) throw constraint_error("modal values of an empty group");
  if (distinct == 1) return std::string(s);
  std::string modes;
  for (unsigned c = 0; c < 256; ++c)
    if (counts[c] == best) modes += static_cast<char>(c);
  return modes;
}

// ---------------------------------------------------------------------------
// Group characters.

namespace {

const sets::charset_maps& nuc_amb_table() {
  static const sets::charset_maps table = sets::get_nuc_amb();
  return table;
}

}  // namespace

const sets::charset_maps& nuc_amb = nuc_amb_table();

namespace {

enum class formula_type : std::uint8_t {
  GROUP_SIZE,
  CONSENSUS,
  MODUS,
  ENTROPY,
  FREQUENCIES
};

constexpr float undefined_real = -99.0f;
constexpr char undefined_char = '?';

formula_type choose_formula(const char_mat_type& result,
                            const char_mat_type& chars,
                            const char_set& valid_states, bool modal_only) {
  if (chars.char_type() != matrix_type::DISCR)
    throw matrix_error("associate matrix is not discrete");
  switch (result.char_type()) {
    case matrix_type::CNTCH:
      if (result.nchar() == 1) return formula_type::GROUP_SIZE;
      break;
    case matrix_type::DISCR:
      if (result.nchar() == chars.nchar())
        return modal_only ? formula_type::MODUS : formula_type::CONSENSUS;
      break;
    case matrix_type::QUANT:
      if (result.nchar() == chars.nchar()) return formula_type::ENTROPY;
      if (static_cast<std::int64_t>(result.nchar()) ==
          static_cast<std::int64_t>(chars.nchar()) * valid_states.size())
        return formula_type::FREQUENCIES;
      break;
  }
  throw matrix_error("host matrix shape fits no analysis");
}

char lookup_code(const char_set& set) {
  const auto it = nuc_amb.find(set);
  if (it == nuc_amb.end()) throw constraint_error(key_not_in_map_msg);
  return it->second;
}

// States of a group counted per site, for a handful of valid states. Rows
// are visited one after the other over a block of sites, so each associate
// row is read contiguously and the counts of the block stay in cache.
class site_counter {
 public:
  static constexpr std::size_t max_states = 8;
  static constexpr std::size_t block = 4096;

  site_counter(const char_set& valid_states)
      : states_(valid_states.members()), k_(states_.size()),
        stride_(k_ + 1), counts_(block * stride_) {
    // Symbols outside the valid states land in an extra slot per site that
    // is never read, which keeps the counting loop free of branches.
    index_.fill(static_cast<std::uint8_t>(k_));
    for (std::size_t s = 0; s < k_; ++s)
      index_[static_cast<unsigned char>(states_[s])] =
          static_cast<std::uint8_t>(s);
  }

  /// Counts the states of `group` at sites first..first+width-1 (0-based).
  void count(const char_mat_type& chars, const sets::ordered_tax_nos& group,
             std::size_t first, std::size_t width) {
    std::fill_n(counts_.begin(), width * stride_, std::uint16_t{0});
    std::uint16_t* const counts = counts_.data();
    for (const std::int32_t r : group) {
      const char* row = chars.discr_row(r) + first;
      for (std::size_t j = 0; j < width; ++j)
        ++counts[j * stride_ + index_[static_cast<unsigned char>(row[j])]];
    }
  }

  /// Counts of site j (0-based within the block), k of them in code order.
  const std::uint16_t* at(std::size_t j) const {
    return counts_.data() + j * stride_;
  }
  std::size_t k() const { return k_; }
  const std::string& states() const { return states_; }

 private:
  std::string states_;
  std::size_t k_;
  std::size_t stride_;
  std::vector<std::uint16_t> counts_;
  std::array<std::uint8_t, 256> index_;
};

// Entropy terms ln(p) * p by (count, group size), filled on first use: the
// groups of a run take few distinct sizes.
class term_table {
 public:
  explicit term_table(std::size_t max_n) : rows_(max_n + 1) {}
  float operator()(std::size_t c, std::size_t n) {
    std::vector<float>& row = rows_[n];
    if (row.empty()) {
      row.resize(n + 1);
      for (std::size_t i = 1; i <= n; ++i)
        row[i] = entropy_term(static_cast<std::int64_t>(i),
                              static_cast<std::int64_t>(n));
    }
    return row[c];
  }

 private:
  std::vector<std::vector<float>> rows_;
};

#ifdef ZURUD_X86_GROUP

// The per-host counting with AVX2, for the four or five states of the tool's
// analyses. Each state has a plane of byte counters, one per site of a block
// of sites; four rows at a time are compared with the state and each match
// (-1) subtracted, so a plane is loaded and stored once per four rows. A host
// of more than 255 associates is counted 255 rows at a time, the byte
// counters added into 16-bit ones in between; such hosts are few, and their
// sites are finished one at a time.
constexpr std::size_t avx_block = 4096;
constexpr std::size_t byte_batch = 255;

template <int K>
struct state_planes {
  alignas(32) std::uint8_t small[K][avx_block];
  std::uint16_t wide[K][avx_block];
};

// Entropies by vector of byte counts. The variable sites of a host repeat a
// few patterns of counts (1 a and 1 g, 2 c and 1 t, ...), so each pattern is
// computed once; the value depends on the counts alone.
struct entropy_memo {
  static constexpr unsigned bits = 12;
  std::uint64_t keys[1u << bits] = {};  // 0: no entry (counts of n >= 2)
  float values[1u << bits] = {};
};

struct finish_context {
  formula_type formula;
  const char* code;  // consensus codes by mask of states; code[0] is "?"
  term_table* terms;
  const ent_val_type* max_ent;
  entropy_memo* memo;
};

template <int K>
float entropy_cell(const unsigned* c, unsigned n, const finish_context& f) {
  if (n < 2) return undefined_real;
  int distinct = 0;
  for (int s = 0; s < K; ++s) distinct += c[s] > 0;
  float h = 0.0f;
  if (distinct > 1)
    for (int s = 0; s < K; ++s)
      if (c[s] > 0) h = h - (*f.terms)(c[s], n);
  return h / (*f.max_ent)[n - 1];
}

// One site from its counts. Output for site j goes to dout[j], qout[j], or
// for frequencies qout[j * K .. j * K + K - 1].
template <int K>
void finish_site(const finish_context& f, const unsigned* c, std::size_t j,
                 char* dout, float* qout) {
  unsigned n = 0, best = 0, present = 0;
  for (int s = 0; s < K; ++s) {
    n += c[s];
    best = std::max(best, c[s]);
    present |= (c[s] > 0 ? 1u : 0u) << s;
  }
  switch (f.formula) {
    case formula_type::CONSENSUS:
    case formula_type::MODUS: {
      unsigned mask = present;
      if (f.formula == formula_type::MODUS && n > 0) {
        mask = 0;
        for (int s = 0; s < K; ++s) mask |= (c[s] == best ? 1u : 0u) << s;
      }
      if (f.code[mask] == 0) throw constraint_error(key_not_in_map_msg);
      dout[j] = f.code[mask];
      break;
    }
    case formula_type::ENTROPY:
      qout[j] = entropy_cell<K>(c, n, f);
      break;
    case formula_type::FREQUENCIES:
      for (int s = 0; s < K; ++s)
        qout[j * K + s] = n == 0 ? undefined_real
                                 : static_cast<float>(c[s]) /
                                       static_cast<float>(n);
      break;
    case formula_type::GROUP_SIZE:
      break;
  }
}

template <int K>
void finish_sites(const finish_context& f,
                  const std::uint8_t (*planes)[avx_block], std::size_t from,
                  std::size_t to, char* dout, float* qout) {
  for (std::size_t j = from; j < to; ++j) {
    unsigned c[K];
    for (int s = 0; s < K; ++s) c[s] = planes[s][j];
    finish_site<K>(f, c, j, dout, qout);
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
        _mm256_store_si256(
            p, _mm256_sub_epi8(_mm256_load_si256(p),
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

// Consensus codes of 32 sites at a time: the mask of states present (or,
// for modal values, of the states with the largest count) picks the code
// from a 16- or 32-entry table with byte shuffles.
template <int K>
__attribute__((target("avx2"))) void finish_codes(
    const finish_context& f, const std::uint8_t (*planes)[avx_block],
    std::size_t width, char* out) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo = _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(f.code)));
  const __m256i hi = _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(f.code + 16)));
  const bool modal = f.formula == formula_type::MODUS;
  __m256i bad = zero;
  const std::size_t vec = width & ~std::size_t{31};
  for (std::size_t j = 0; j < vec; j += 32) {
    __m256i c[K];
    for (int s = 0; s < K; ++s)
      c[s] = _mm256_load_si256(reinterpret_cast<const __m256i*>(planes[s] + j));
    __m256i mask = zero;
    if (modal) {
      __m256i best = c[0];
      for (int s = 1; s < K; ++s) best = _mm256_max_epu8(best, c[s]);
      for (int s = 0; s < K; ++s)
        mask = _mm256_or_si256(
            mask,
            _mm256_and_si256(_mm256_cmpeq_epi8(c[s], best),
                             _mm256_set1_epi8(static_cast<char>(1 << s))));
      mask = _mm256_andnot_si256(_mm256_cmpeq_epi8(best, zero), mask);
    } else {
      for (int s = 0; s < K; ++s)
        mask = _mm256_or_si256(
            mask,
            _mm256_andnot_si256(_mm256_cmpeq_epi8(c[s], zero),
                                _mm256_set1_epi8(static_cast<char>(1 << s))));
    }
    __m256i v = _mm256_shuffle_epi8(lo, mask);
    if (K > 4)  // bit 4 of the mask, moved to bit 7, picks the upper table
      v = _mm256_blendv_epi8(v, _mm256_shuffle_epi8(hi, mask),
                             _mm256_slli_epi16(mask, 3));
    bad = _mm256_or_si256(bad, _mm256_cmpeq_epi8(v, zero));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), v);
  }
  if (!_mm256_testz_si256(bad, bad)) throw constraint_error(key_not_in_map_msg);
  finish_sites<K>(f, planes, vec, width, out, nullptr);
}

// Entropies: most sites are undefined (fewer than two states counted) or
// hold one state (entropy 0); 32 sites at a time are classified and written
// as -99.0 or 0.0, and only the rest are computed one by one.
template <int K>
__attribute__((target("avx2"))) void finish_entropies(
    const finish_context& f, const std::uint8_t (*planes)[avx_block],
    std::size_t width, float* out) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i one = _mm256_set1_epi8(1);
  const __m256 minus_99 = _mm256_set1_ps(undefined_real);
  const std::size_t vec = width & ~std::size_t{31};
  for (std::size_t j = 0; j < vec; j += 32) {
    __m256i c[K];
    __m256i n = zero;
    for (int s = 0; s < K; ++s) {
      c[s] = _mm256_load_si256(reinterpret_cast<const __m256i*>(planes[s] + j));
      n = _mm256_add_epi8(n, c[s]);
    }
    const __m256i undefined = _mm256_cmpeq_epi8(_mm256_min_epu8(n, one), n);
    __m256i simple = undefined;
    for (int s = 0; s < K; ++s)
      simple = _mm256_or_si256(simple, _mm256_cmpeq_epi8(c[s], n));
    const __m128i halves[2] = {_mm256_castsi256_si128(undefined),
                               _mm256_extracti128_si256(undefined, 1)};
    for (int g = 0; g < 4; ++g) {
      const __m128i bytes = g % 2 == 0 ? halves[g / 2]
                                       : _mm_srli_si128(halves[g / 2], 8);
      const __m256 m = _mm256_castsi256_ps(_mm256_cvtepi8_epi32(bytes));
      _mm256_storeu_ps(out + j + 8 * g, _mm256_and_ps(m, minus_99));
    }
    auto need = ~static_cast<unsigned>(_mm256_movemask_epi8(simple));
    while (need != 0) {
      const std::size_t t = j + static_cast<std::size_t>(__builtin_ctz(need));
      need &= need - 1;
      unsigned cc[K];
      unsigned total = 0;
      std::uint64_t key = 0;
      for (int s = 0; s < K; ++s) {
        total += cc[s] = planes[s][t];
        key |= std::uint64_t{cc[s]} << (8 * s);
      }
      const auto slot = static_cast<std::size_t>(
          (key * 0x9E3779B97F4A7C15u) >> (64 - entropy_memo::bits));
      if (f.memo->keys[slot] != key) {
        f.memo->keys[slot] = key;
        f.memo->values[slot] = entropy_cell<K>(cc, total, f);
      }
      out[t] = f.memo->values[slot];
    }
  }
  finish_sites<K>(f, planes, vec, width, nullptr, out);
}

// Frequencies of 8 sites at a time: counts to floats, one division per
// state (division is exact to the last bit in vectors too), -99.0 where
// nothing was counted, then the K vectors interleaved site by site.
template <int K>
__attribute__((target("avx2"))) void finish_frequencies(
    const finish_context& f, const std::uint8_t (*planes)[avx_block],
    std::size_t width, float* out) {
  const __m256 minus_99 = _mm256_set1_ps(undefined_real);
  const std::size_t vec = width & ~std::size_t{7};
  for (std::size_t j = 0; j < vec; j += 8) {
    __m128i c[K];
    __m128i n = _mm_setzero_si128();
    for (int s = 0; s < K; ++s) {
      c[s] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(planes[s] + j));
      n = _mm_add_epi8(n, c[s]);
    }
    const __m256 nf = byte_floats(n);
    const __m256 none = _mm256_cmp_ps(nf, _mm256_setzero_ps(), _CMP_EQ_OQ);
    __m256 q[K];
    for (int s = 0; s < K; ++s)
      q[s] = _mm256_blendv_ps(_mm256_div_ps(byte_floats(c[s]), nf), minus_99,
                              none);
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

template <int K>
void fill_rows_avx2(char_mat_type& result, const char_mat_type& chars,
                    const numeric_host_maps& hosts, const std::string& states,
                    const finish_context& f) {
  auto planes = std::make_unique<state_planes<K>>();
  std::vector<const char*> rows;
  const auto nchar = static_cast<std::size_t>(chars.nchar());
  const bool discrete = f.formula == formula_type::CONSENSUS ||
                        f.formula == formula_type::MODUS;
  const std::size_t stride =
      f.formula == formula_type::FREQUENCIES ? std::size_t{K} : 1;
  auto host = hosts.begin();
  for (std::int32_t i = 1; i <= result.ntax(); ++i, ++host) {
    rows.clear();
    for (const std::int32_t r : host->second)
      rows.push_back(chars.discr_row(r));
    char* dout = discrete ? result.discr_row(i) : nullptr;
    float* qout = discrete ? nullptr : result.quant_row(i);
    for (std::size_t first = 0; first < nchar; first += avx_block) {
      const std::size_t width = std::min(avx_block, nchar - first);
      char* d = discrete ? dout + first : nullptr;
      float* q = discrete ? nullptr : qout + first * stride;
      if (rows.size() <= byte_batch) {
        count_rows<K>(rows.data(), rows.size(), first, width, states.data(),
                      planes->small);
        if (discrete)
          finish_codes<K>(f, planes->small, width, d);
        else if (f.formula == formula_type::ENTROPY)
          finish_entropies<K>(f, planes->small, width, q);
        else
          finish_frequencies<K>(f, planes->small, width, q);
        continue;
      }
      for (int s = 0; s < K; ++s)
        std::fill_n(planes->wide[s], width, std::uint16_t{0});
      for (std::size_t b = 0; b < rows.size(); b += byte_batch) {
        count_rows<K>(rows.data() + b, std::min(byte_batch, rows.size() - b),
                      first, width, states.data(), planes->small);
        for (int s = 0; s < K; ++s)
          for (std::size_t j = 0; j < width; ++j)
            planes->wide[s][j] += planes->small[s][j];
      }
      for (std::size_t j = 0; j < width; ++j) {
        unsigned c[K];
        for (int s = 0; s < K; ++s) c[s] = planes->wide[s][j];
        finish_site<K>(f, c, j, d, q);
      }
    }
  }
}

#endif

void fill_rows_fast(char_mat_type& result, const char_mat_type& chars,
                    const numeric_host_maps& hosts,
                    const char_set& valid_states, formula_type formula,
                    const ent_val_type& max_ent) {
  site_counter counter(valid_states);
  const std::size_t k = counter.k();
  // Consensus codes by mask of states present; 0 marks a set the code table
  // lacks, which fails as the table's own lookup would, when it is reached.
  std::vector<char> code(std::size_t{1} << k, 0);
  for (std::size_t mask = 1; mask < code.size(); ++mask) {
    char_set set;
    for (std::size_t s = 0; s < k; ++s)
      if (mask >> s & 1) set.insert(static_cast<unsigned char>(counter.states()[s]));
    const auto it = nuc_amb.find(set);
    if (it != nuc_amb.end()) code[mask] = it->second;
  }
  term_table terms(static_cast<std::size_t>(chars.ntax()));
  const std::size_t nchar = static_cast<std::size_t>(chars.nchar());

#ifdef ZURUD_X86_GROUP
  if ((k == 4 || k == 5) && zurud::detail::use_avx2()) {
    std::array<char, 32> codes{};
    codes[0] = undefined_char;
    for (std::size_t mask = 1; mask < code.size(); ++mask)
      codes[mask] = code[mask];
    const auto memo = std::make_unique<entropy_memo>();
    const finish_context f{formula, codes.data(), &terms, &max_ent, memo.get()};
    if (k == 4)
      fill_rows_avx2<4>(result, chars, hosts, counter.states(), f);
    else
      fill_rows_avx2<5>(result, chars, hosts, counter.states(), f);
    return;
  }
#endif

  auto host = hosts.begin();
  for (std::int32_t i = 1; i <= result.ntax(); ++i, ++host) {
    const sets::ordered_tax_nos& group = host->second;
    for (std::size_t first = 0; first < nchar; first += site_counter::block) {
      const std::size_t width = std::min(site_counter::block, nchar - first);
      counter.count(chars, group, first, width);
      for (std::size_t j = 0; j < width; ++j) {
        const std::uint16_t* c = counter.at(j);
        std::size_t n = 0;
        std::uint16_t best = 0;
        unsigned present = 0;
        for (std::size_t s = 0; s < k; ++s) {
          n += c[s];
          best = std::max(best, c[s]);
          present |= (c[s] > 0 ? 1u : 0u) << s;
        }
        const std::size_t site = first + j;
        switch (formula) {
          case formula_type::CONSENSUS:
          case formula_type::MODUS: {
            char out = undefined_char;
            if (n > 0) {
              unsigned mask = present;
              if (formula == formula_type::MODUS) {
                mask = 0;
                for (std::size_t s = 0; s < k; ++s)
                  mask |= (c[s] == best ? 1u : 0u) << s;
              }
              out = code[mask];
              if (out == 0) throw constraint_error(key_not_in_map_msg);
            }
            result.discr_row(i)[site] = out;
            break;
          }
          case formula_type::ENTROPY: {
            float v = undefined_real;
            if (n >= 2) {
              float h = 0.0f;
              if (std::popcount(present) > 1)
                for (std::size_t s = 0; s < k; ++s)
                  if (c[s] > 0) h = h - terms(c[s], n);
              v = h / max_ent[n - 1];
            }
            result.quant_row(i)[site] = v;
            break;
          }
          case formula_type::FREQUENCIES: {
            float* out = result.quant_row(i) + site * k;
            for (std::size_t s = 0; s < k; ++s)
              out[s] = n == 0 ? undefined_real
                              : static_cast<float>(c[s]) / static_cast<float>(n);
            break;
          }
          case formula_type::GROUP_SIZE:
            break;
        }
      }
    }
  }
}

}  // namespace

namespace detail {

void fill_rows_plain(char_mat_type& result, const char_mat_type& chars,
                     const numeric_host_maps& hosts,
                     const char_set& valid_states, bool modal_only) {
  const formula_type formula =
      choose_formula(result, chars, valid_states, modal_only);
  ent_val_type max_ent;
  if (formula == formula_type::ENTROPY) {
    max_ent.resize(static_cast<std::size_t>(chars.ntax()));
    max_entropy(max_ent, valid_states);
  }
  const std::string states = valid_states.members();
  std::string group_string;
  group_string.reserve(static_cast<std::size_t>(chars.ntax()));
  auto host = hosts.begin();
  for (std::int32_t i = 1; i <= result.ntax(); ++i, ++host) {
    if (host == hosts.end())
      throw constraint_error("Position cursor of function Key equals No_Element");
    result.labels(i) = host->first;
    const sets::ordered_tax_nos& group = host->second;
    if (formula == formula_type::GROUP_SIZE) {
      result.count(i, 1) = static_cast<std::int32_t>(group.size());
      continue;
    }
    result.comments(i) = integer_image(static_cast<std::int64_t>(group.size()));
    std::int32_t column = 0;
    for (std::int32_t j = 1; j <= chars.nchar(); ++j) {
      group_string.clear();
      for (const std::int32_t r : group) {
        const char c = chars.discr(r, j);
        if (valid_states.contains(c)) group_string += c;
      }
      const std::size_t n = group_string.size();
      switch (formula) {
        case formula_type::CONSENSUS:
          result.discr(i, j) =
              n == 0 ? undefined_char : lookup_code(char_set(group_string));
          break;
        case formula_type::MODUS:
          result.discr(i, j) =
              n == 0 ? undefined_char
                     : lookup_code(char_set(modal_values(group_string)));
          break;
        case formula_type::ENTROPY:
          result.quant(i, j) =
              n >= 2 ? entropy(group_string) / max_ent[n - 1] : undefined_real;
          break;
        case formula_type::FREQUENCIES:
          for (char s : states) {
            ++column;
            result.quant(i, column) =
                n == 0 ? undefined_real
                       : static_cast<float>(std::count(group_string.begin(),
                                                       group_string.end(), s)) /
                             static_cast<float>(n);
          }
          break;
        case formula_type::GROUP_SIZE:
          break;
      }
    }
  }
}

}  // namespace detail

void get_group_chars(char_mat_type& result, const char_mat_type& chars,
                     const numeric_host_maps& hosts,
                     const char_set& valid_states, bool modal_only) {
  const formula_type formula =
      choose_formula(result, chars, valid_states, modal_only);
  if (formula == formula_type::GROUP_SIZE ||
      static_cast<std::size_t>(valid_states.size()) > site_counter::max_states) {
    detail::fill_rows_plain(result, chars, hosts, valid_states, modal_only);
    return;
  }
  ent_val_type max_ent;
  if (formula == formula_type::ENTROPY) {
    max_ent.resize(static_cast<std::size_t>(chars.ntax()));
    max_entropy(max_ent, valid_states);
  }
  // Labels and row comments first, so that a map shorter than the result
  // fails where the plain walk would, after the rows it could fill.
  std::int32_t rows = 0;
  for (auto host = hosts.begin(); rows < result.ntax(); ++host) {
    if (host == hosts.end()) break;
    ++rows;
    result.labels(rows) = host->first;
    result.comments(rows) =
        integer_image(static_cast<std::int64_t>(host->second.size()));
  }
  if (rows < result.ntax()) {
    // Fill what exists, then fail as the walk past the last host does.
    detail::fill_rows_plain(result, chars, hosts, valid_states, modal_only);
    return;
  }
  fill_rows_fast(result, chars, hosts, valid_states, formula, max_ent);
}

// ---------------------------------------------------------------------------
// Host-wise distances.

namespace {

// The associates of one host as rows of D, ascending.
using dist_rows = std::vector<std::int32_t>;

void check_rows(const dist_rows& rows, const dist_mat_type& D) {
  if (rows.empty()) return;
  const std::int32_t bad = rows.front() < 1 ? rows.front() : rows.back();
  if (bad < 1 || bad > D.ntax())
    throw constraint_error("index check failed",
                           "taxon number " + std::to_string(bad) +
                               " outside 1.." + std::to_string(D.ntax()) +
                               " of the associate distance matrix");
}

// Sums and means must stay finite: one overflowing step ends the run
// instead of turning every later distance into infinity.
float checked(float v, const char* what) {
  if (!(v >= 0.0f && v <= max_float))
    throw range_error(std::string(what) + " beyond 3.40282347E+38");
  return v;
}

// Distance from row a to its nearest neighbour among `others`.
float nearest(const positive_matrix& d, std::int32_t a,
              const dist_rows& others) {
  float m = max_float;
  for (const std::int32_t b : others)
    if (d(a, b) < m) m = d(a, b);
  return m;
}

float group_distance(const dist_mat_type& D, const dist_rows& A,
                     const dist_rows& B, dist_func_type rule) {
  check_rows(A, D);
  check_rows(B, D);
  const positive_matrix& d = D.distances;
  switch (rule) {
    case dist_func_type::MIN: {
      float m = max_float;
      for (const std::int32_t a : A) m = std::min(m, nearest(d, a, B));
      return m;
    }
    case dist_func_type::MEAN: {
      float sum = 0.0f;
      for (const std::int32_t a : A)
        for (const std::int32_t b : B)
          sum = checked(sum + d(a, b), "sum of distances");
      const auto pairs = static_cast<float>(A.size() * B.size());
      return checked(sum / pairs, "mean distance");
    }
    case dist_func_type::MAX: {
      float x = 0.0f;
      for (const std::int32_t a : A)
        for (const std::int32_t b : B)
          if (d(a, b) > x) x = d(a, b);
      return x;
    }
    case dist_func_type::PBC: {
      float sum = 0.0f;
      for (const std::int32_t a : A)
        sum = checked(sum + nearest(d, a, B), "sum of distances");
      for (const std::int32_t b : B)
        sum = checked(sum + nearest(d, b, A), "sum of distances");
      const auto count = static_cast<float>(A.size() + B.size());
      return checked(sum / count, "mean distance");
    }
  }
  return 0.0f;
}

}  // namespace

void get_pbc(dist_mat_type& R, const dist_mat_type& D,
             const numeric_host_maps& hosts, dist_func_type rule) {
  const std::int32_t n = R.ntax();
  // Every set is read once per pair of hosts: copy the ones in use to
  // vectors first.
  std::vector<const std::string*> labels;
  std::vector<dist_rows> rows;
  for (auto it = hosts.begin();
       it != hosts.end() && static_cast<std::int32_t>(rows.size()) < n; ++it) {
    labels.push_back(&it->first);
    rows.emplace_back(it->second.begin(), it->second.end());
  }
  const auto available = static_cast<std::int32_t>(rows.size());
  auto host = [&](std::int32_t k) -> const dist_rows& {
    if (k > available)
      throw constraint_error(
          "Position cursor of function Key equals No_Element",
          "the host map holds " + std::to_string(available) +
              " hosts, the host distance matrix " + std::to_string(n));
    return rows[static_cast<std::size_t>(k - 1)];
  };
  const bool self_distance =
      rule == dist_func_type::MEAN || rule == dist_func_type::MAX;
  for (std::int32_t i = 1; i <= n; ++i) {
    const dist_rows& a = host(i);
    R.labels(i) = *labels[static_cast<std::size_t>(i - 1)];
    R.distances.set(i, i, self_distance ? group_distance(D, a, a, rule) : 0.0f);
    for (std::int32_t j = i + 1; j <= n; ++j) {
      const float v = group_distance(D, a, host(j), rule);
      R.distances.set(i, j, v);
      R.distances.set(j, i, v);
    }
  }
}

// ---------------------------------------------------------------------------
// Name-keyed host maps.

void to_taxon_set(sets::ordered_taxa& set, const ordered_assocs& assocs,
                  assoc_part part) {
  for (const association& a : assocs)
    set.insert(part == assoc_part::HOST ? a.host : a.para);
}

void to_host_map(host_maps& map, const ordered_assocs& assocs) {
  for (const association& a : assocs) map[a.host].insert(a.para);
}

void filter(sets::ordered_taxa& host_set, host_maps& map,
            std::int32_t minimum, text_output& err) {
  for (auto it = host_set.begin(); it != host_set.end();) {
    const auto entry = map.find(*it);
    if (entry == map.end())
      throw constraint_error(key_not_in_map_msg,
                             "host \"" + *it + "\" is not in the host map");
    if (static_cast<std::int64_t>(entry->second.size()) >= minimum) {
      ++it;
      continue;
    }
    err.put_line("WARNING: Removing host " + *it +
                 " (# associates below threshold)");
    map.erase(entry);
    it = host_set.erase(it);
  }
}

}  // namespace zurud::hostpara
