#include "zurud/zurud-alphabet.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <utility>
#include <vector>

#include "zurud/zurud-sets.hpp"

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace zurud {

struct alphabet_type::tables {
  alphabet_kind_type kind;
  std::string states;
  char_mapping cell_map;
  // A stored cell's state bit, gap_bit for the gap, 0 for missing data.
  std::array<state_set_type, 256> state{};
  // The code of each state alone, of the sets of several states that have
  // a code of their own, and of every other set of several states.
  std::array<char, max_states> single{};
  std::vector<std::pair<state_set_type, char>> named;
  char other = 0;
  std::string datatype;

  // The states' bits, and the gap's.
  void index_states() {
    for (std::size_t s = 0; s < states.size(); ++s)
      state[static_cast<unsigned char>(states[s])] = state_set_type{1} << s;
    state[static_cast<unsigned char>(gap)] = gap_bit;
  }
};

const alphabet_type& alphabet_type::dna() {
  static const alphabet_type a = [] {
    auto t = std::make_shared<tables>();
    t->kind = alphabet_kind_type::DNA;
    t->states = nuc_set.members();
    t->cell_map = site_map;
    t->datatype = "nucleotide";
    t->index_states();
    // The ambiguity codes are those of nuc_amb: its sets without the gap.
    // (Its sets with the gap follow the rule every alphabet shares.)
    for (const auto& [set, code] : sets::get_nuc_amb()) {
      if (set.contains(gap)) continue;
      state_set_type bits = 0;
      for (const char c : set.members())
        bits |= t->state[static_cast<unsigned char>(c)];
      if (std::has_single_bit(bits))
        t->single[static_cast<std::size_t>(std::countr_zero(bits))] = code;
      else
        t->named.emplace_back(bits, code);
    }
    std::sort(t->named.begin(), t->named.end());
    return alphabet_type(std::move(t));
  }();
  return a;
}

alphabet_kind_type alphabet_type::kind() const noexcept { return t_->kind; }

const std::string& alphabet_type::states() const noexcept { return t_->states; }

char_set alphabet_type::valid_states(bool gaps) const {
  char_set set(t_->states);
  if (gaps) set.insert(static_cast<unsigned char>(gap));
  return set;
}

const char_mapping& alphabet_type::cell_map() const noexcept {
  return t_->cell_map;
}

state_set_type alphabet_type::state_of(char cell) const noexcept {
  return t_->state[static_cast<unsigned char>(cell)];
}

char alphabet_type::code_of(state_set_type set) const noexcept {
  const state_set_type states = (state_set_type{1} << t_->states.size()) - 1;
  if ((set & ~(states | gap_bit)) != 0) return 0;
  if (set == 0) return missing;
  if ((set & gap_bit) != 0) {
    // The gap with one state is that state; with several, undecided.
    const state_set_type rest = set & ~gap_bit;
    if (rest == 0) return gap;
    if (!std::has_single_bit(rest)) return missing;
    set = rest;
  }
  if (std::has_single_bit(set))
    return t_->single[static_cast<std::size_t>(std::countr_zero(set))];
  for (const auto& [bits, code] : t_->named)
    if (bits == set) return code;
  return t_->other;
}

char alphabet_type::code_of(const char_set& set) const noexcept {
  state_set_type bits = 0;
  for (unsigned c = 0; c < 256; ++c) {
    if (!set.contains(static_cast<unsigned char>(c))) continue;
    const state_set_type b = t_->state[c];
    if (b == 0) return 0;
    bits |= b;
  }
  return code_of(bits);
}

std::string_view alphabet_type::datatype() const noexcept {
  return t_->datatype;
}

bool operator==(const alphabet_type& a, const alphabet_type& b) noexcept {
  return a.t_ == b.t_ ||
         (a.t_->kind == b.t_->kind && a.t_->states == b.t_->states);
}

// ---------------------------------------------------------------------------
// Samples.

alphabet_sample::alphabet_sample(std::int32_t ntax, std::int32_t nchar)
    : per_row_(std::min<std::size_t>(
          static_cast<std::size_t>(nchar),
          std::max<std::size_t>(
              64, (std::size_t{1} << 20) / static_cast<std::size_t>(ntax)))) {}

namespace {

// A cell says nothing of the alphabet when it is missing data (? - .); a
// nucleotide letter says nucleotides. Letters count in either case: setting
// the fifth bit makes them lower case, and no other byte becomes a letter.
bool missing_cell(unsigned char c) { return c == '?' || c == '-' || c == '.'; }
bool base_cell(unsigned char c) {
  c |= 0x20;
  return c == 'a' || c == 'c' || c == 'g' || c == 't' || c == 'u' || c == 'n';
}

}  // namespace

void alphabet_sample::add(const char* row) {
  std::int64_t counted = 0, foreign = 0;
  std::size_t j = 0;
#if defined(__SSE2__) && defined(__x86_64__)
  // Sixteen cells at a time, counted in bytes (missing cells, and cells
  // neither missing nor bases) and summed before a byte could overflow.
  const __m128i zero = _mm_setzero_si128();
  const __m128i lower = _mm_set1_epi8(0x20);
  const auto is = [](__m128i v, char c) {
    return _mm_cmpeq_epi8(v, _mm_set1_epi8(c));
  };
  const auto sum = [&](__m128i bytes) {
    const __m128i s = _mm_sad_epu8(bytes, zero);
    return _mm_cvtsi128_si64(s) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(s, s));
  };
  const std::size_t whole = per_row_ & ~std::size_t{15};
  while (j < whole) {
    const std::size_t from = j, to = std::min(whole, j + 16 * 255);
    __m128i gaps = zero, others = zero;
    for (; j < to; j += 16) {
      const __m128i v =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + j));
      const __m128i gap =
          _mm_or_si128(_mm_or_si128(is(v, '?'), is(v, '-')), is(v, '.'));
      const __m128i l = _mm_or_si128(v, lower);
      const __m128i nuc =
          _mm_or_si128(_mm_or_si128(_mm_or_si128(is(l, 'a'), is(l, 'c')),
                                    _mm_or_si128(is(l, 'g'), is(l, 't'))),
                       _mm_or_si128(is(l, 'u'), is(l, 'n')));
      gaps = _mm_sub_epi8(gaps, gap);
      others =
          _mm_sub_epi8(others, _mm_cmpeq_epi8(_mm_or_si128(gap, nuc), zero));
    }
    counted += static_cast<std::int64_t>(to - from) - sum(gaps);
    foreign += sum(others);
  }
#endif
  for (; j < per_row_; ++j) {
    const auto c = static_cast<unsigned char>(row[j]);
    counted += !missing_cell(c);
    foreign += !missing_cell(c) && !base_cell(c);
  }
  counted_ += counted;
  foreign_ += foreign;
}

}  // namespace zurud
