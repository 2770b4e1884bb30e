
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

namespace {

// Whether a non-empty set is of one state (std::has_single_bit may be a
// library call where the processor's popcount is not assumed).
constexpr bool one_state(state_set_type set) noexcept {
  return (set & (set - 1)) == 0;
}

}  // namespace

struct alphabet_type::tables {
  alphabet_kind_type kind;
  std::string name;
  std::string states;
  char_mapping cell_map;
  // A stored cell's state bit, gap_bit for the gap, 0 for missing data.
  std::array<state_set_type, 256> state{};
  // The code of each state alone, of the sets of several states that have
  // a code of their own, and of every other set of several states.
  std::array<char, max_states> single{};
  std::vector<std::pair<state_set_type, char>> named;
  char other = 0;
  // Sets of several states are written as polymorphisms (standard).
  bool polymorphisms = false;
  std::string datatype;
  std::string symbols;

  // The states' bits, and the gap's.
  void index_states() {
    for (std::size_t s = 0; s < states.size(); ++s)
      state[static_cast<unsigned char>(states[s])] = state_set_type{1} << s;
    state[static_cast<unsigned char>(gap)] = gap_bit;
  }
  state_set_type bits_of(std::string_view cells) const {
    state_set_type bits = 0;
    for (const char c : cells) bits |= state[static_cast<unsigned char>(c)];
    return bits;
  }
};

const alphabet_type& alphabet_type::dna() {
  static const alphabet_type a = [] {
    auto t = std::make_shared<tables>();
    t->kind = alphabet_kind_type::DNA;
    t->name = "dna";
    t->states = nuc_set.members();
    t->cell_map = site_map;
    t->datatype = "nucleotide";
    t->index_states();
    // The ambiguity codes are those of nuc_amb: its sets without the gap.
    // (Its sets with the gap follow the rule every alphabet shares.)
    for (const auto& [set, code] : sets::get_nuc_amb()) {
      if (set.contains(gap)) continue;
      const state_set_type bits = t->bits_of(set.members());
      if (one_state(bits))
        t->single[static_cast<std::size_t>(std::countr_zero(bits))] = code;
      else
        t->named.emplace_back(bits, code);
    }
    std::sort(t->named.begin(), t->named.end());
    return alphabet_type(std::move(t));
  }();
  return a;
}

const alphabet_type& alphabet_type::protein() {
  static const alphabet_type a = [] {
    auto t = std::make_shared<tables>();
    t->kind = alphabet_kind_type::PROTEIN;
    t->name = "protein";
    t->states = "acdefghiklmnpqrstvwy";
    t->cell_map = lower_case_map;
    t->datatype = "protein";
    t->index_states();
    for (std::size_t s = 0; s < t->states.size(); ++s)
      t->single[s] = upper_case_map(t->states[s]);
    // The residues that assays or structures cannot tell apart.
    t->named = {{t->bits_of("dn"), 'B'},
                {t->bits_of("eq"), 'Z'},
                {t->bits_of("il"), 'J'}};
    t->other = 'X';
    return alphabet_type(std::move(t));
  }();
  return a;
}

alphabet_type alphabet_type::standard(std::string_view symbols) {
  // Symbols that cells cannot be: missing data, the gap, the marks of
  // polymorphisms and NEXUS comments, and what ends a NEXUS token.
  static constexpr char_set reserved{"?-{}()[];'\""};
  auto t = std::make_shared<tables>();
  std::string declared;
  for (const char c : symbols) {
    if (whitespace.contains(c)) continue;
    const auto u = static_cast<unsigned char>(c);
    if (u < 33 || u > 126 || reserved.contains(c))
      throw format_error("symbol \"" + printable(std::string(1, c)) +
                         "\" cannot be a state of standard characters");
    const char state = lower_case_map(c);
    for (const char d : declared)
      if (lower_case_map(d) == state)
        throw format_error(std::string("symbol \"") + c + "\" repeats \"" + d +
                           "\" (cells are read in either case)");
    declared += c;
  }
  if (declared.empty())
    throw format_error("no symbols for standard characters");
  if (declared.size() > max_states)
    throw format_error("more than " + std::to_string(max_states) +
                       " symbols for standard characters");
  // States in code order of the cells, each written as it was declared.
  std::sort(declared.begin(), declared.end(), [](char a, char b) {
    return static_cast<unsigned char>(lower_case_map(a)) <
           static_cast<unsigned char>(lower_case_map(b));
  });
  t->kind = alphabet_kind_type::STANDARD;
  t->name = "standard";
  for (const char c : declared) t->states += lower_case_map(c);
  t->cell_map = lower_case_map;
  t->datatype = "standard";
  t->symbols = declared;
  t->index_states();
  for (std::size_t s = 0; s < declared.size(); ++s) t->single[s] = declared[s];
  t->other = missing;
  t->polymorphisms = true;
  return alphabet_type(std::move(t));
}

namespace {

bool same_word(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower_case_map(a[i]) != lower_case_map(b[i])) return false;
  return true;
}

}  // namespace

std::optional<alphabet_type> alphabet_type::of_name(std::string_view name,
                                                    std::string_view symbols) {
  if (same_word(name, "dna")) return dna();
  if (same_word(name, "protein")) return protein();
  if (same_word(name, "standard"))
    return standard(symbols.empty() ? "0123456789" : symbols);
  return std::nullopt;
}

std::optional<alphabet_type> alphabet_type::of_datatype(
    std::string_view datatype, std::string_view symbols) {
  for (const char* nucleotides : {"dna", "rna", "nucleotide"})
    if (same_word(datatype, nucleotides)) return dna();
  if (same_word(datatype, "protein")) return protein();
  if (same_word(datatype, "standard")) {
    // Some writers list the gap and the missing symbol among SYMBOLS
    // (DendroPy's "2195376-084"): they are read as the gap and missing
    // data, as everywhere, not refused.
    std::string states;
    for (const char c : symbols)
      if (c != gap && c != missing) states += c;
    return standard(states.find_first_not_of(" \t\r\n") == std::string::npos
                        ? "0123456789"
                        : std::string_view(states));
  }
  // Restriction sites are present (1) or absent (0).
  if (same_word(datatype, "restriction")) return standard("01");
  return std::nullopt;
}

alphabet_kind_type alphabet_type::kind() const noexcept { return t_->kind; }

std::string_view alphabet_type::name() const noexcept { return t_->name; }

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
    if (!one_state(rest)) return missing;
    set = rest;
  }
  if (one_state(set))
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

bool alphabet_type::polymorphic(state_set_type set) const noexcept {
  return t_->polymorphisms && (set & gap_bit) == 0 && !one_state(set) &&
         set != 0;
}

bool alphabet_type::writes_polymorphisms() const noexcept {
  return t_->polymorphisms;
}

std::string alphabet_type::polymorphism(state_set_type set) const {
  std::string text = "{";
  for (std::size_t s = 0; s < t_->states.size(); ++s)
    if (set >> s & 1) text += t_->single[s];
  text += '}';
  return text;
}

std::string_view alphabet_type::datatype() const noexcept {
  return t_->datatype;
}

const std::string& alphabet_type::symbols() const noexcept {
  return t_->symbols;
}

bool operator==(const alphabet_type& a, const alphabet_type& b) noexcept {
  return a.t_ == b.t_ ||
         (a.t_->kind == b.t_->kind && a.t_->states == b.t_->states &&
          a.t_->symbols == b.t_->symbols);
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
// nucleotide letter says nucleotides, a digit standard characters. Letters
// count in either case: setting the fifth bit makes them lower case, and no
// other byte becomes a letter.
bool missing_cell(unsigned char c) { return c == '?' || c == '-' || c == '.'; }
bool base_cell(unsigned char c) {
  c |= 0x20;
  return c == 'a' || c == 'c' || c == 'g' || c == 't' || c == 'u' || c == 'n';
}
bool digit_cell(unsigned char c) { return c >= '0' && c <= '9'; }

}  // namespace

void alphabet_sample::add(const char* row) {
  std::int64_t counted = 0, foreign = 0, digits = 0;
  std::size_t j = 0;
#if defined(__SSE2__) && defined(__x86_64__)
  // Sixteen cells at a time, counted in bytes (missing cells, cells neither
  // missing nor bases, digits) and summed before a byte could overflow.
  const __m128i zero = _mm_setzero_si128();
  const __m128i lower = _mm_set1_epi8(0x20);
  const __m128i nine = _mm_set1_epi8(9);
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
    __m128i gaps = zero, others = zero, numbers = zero;
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
      // A digit is at most 9 above "0", unsigned.
      const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8('0'));
      const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(d, nine), d);
      gaps = _mm_sub_epi8(gaps, gap);
      others =
          _mm_sub_epi8(others, _mm_cmpeq_epi8(_mm_or_si128(gap, nuc), zero));
      numbers = _mm_sub_epi8(numbers, digit);
    }
    counted += static_cast<std::int64_t>(to - from) - sum(gaps);
    foreign += sum(others);
    digits += sum(numbers);
  }
#endif
  for (; j < per_row_; ++j) {
    const auto c = static_cast<unsigned char>(row[j]);
    counted += !missing_cell(c);
    foreign += !missing_cell(c) && !base_cell(c);
    digits += digit_cell(c);
  }
  counted_ += counted;
  foreign_ += foreign;
  digits_ += digits;
}

void alphabet_sample::add_cells(std::string_view cells) {
  for (const char ch : cells) {
    const auto c = static_cast<unsigned char>(ch);
    if (whitespace.contains(c) || missing_cell(c)) continue;
    ++counted_;
    foreign_ += !base_cell(c);
    digits_ += digit_cell(c);
  }
}

alphabet_kind_type alphabet_sample::guess() const noexcept {
  if (2 * digits_ > counted_) return alphabet_kind_type::STANDARD;
  if (2 * foreign_ > counted_) return alphabet_kind_type::PROTEIN;
  return alphabet_kind_type::DNA;
}

}  // namespace zurud
