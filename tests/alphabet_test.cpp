#include <gtest/gtest.h>

#include <string>

#include "tests/test_util.hpp"
#include "zurud/zurud-hostpara.hpp"
#include "zurud/zurud-sets.hpp"

using namespace zurud;

TEST(alphabet_type, dna_is_the_nucleotide_sets_and_site_map) {
  const alphabet_type& dna = alphabet_type::dna();
  EXPECT_EQ(dna.kind(), alphabet_kind_type::DNA);
  EXPECT_EQ(dna.states(), "acgt");
  EXPECT_EQ(dna.valid_states(false), nuc_set);
  EXPECT_EQ(dna.valid_states(true), gapped_nuc_set);
  EXPECT_EQ(dna.cell_map(), site_map);
  EXPECT_EQ(dna.datatype(), "nucleotide");
  EXPECT_EQ(dna.state_of('g'), 4u);
  EXPECT_EQ(dna.state_of('-'), alphabet_type::gap_bit);
  EXPECT_EQ(dna.state_of('n'), 0u);
}

TEST(alphabet_type, dna_codes_are_those_of_nuc_amb) {
  const alphabet_type& dna = alphabet_type::dna();
  const std::string symbols = "acgt-";
  for (unsigned mask = 1; mask < 32; ++mask) {
    char_set set;
    for (unsigned s = 0; s < 5; ++s)
      if (mask >> s & 1) set.insert(static_cast<unsigned char>(symbols[s]));
    EXPECT_EQ(dna.code_of(set), hostpara::nuc_amb.at(set)) << set.members();
  }
  // Sets that are no key of nuc_amb have no code either.
  for (const char* none : {"n", "A", "au", "acgtn"})
    EXPECT_EQ(dna.code_of(char_set(none)), 0) << none;
  EXPECT_EQ(dna.code_of(char_set()), '?');
}

TEST(alphabet_sample, counts_cells_that_are_not_missing_and_foreign_ones) {
  struct {
    std::string row;
    std::int64_t counted, foreign;
  } cases[] = {
      {"acgtun", 6, 0},
      {"ACGTUN", 6, 0},
      {"?.?-.-", 0, 0},
      {"rykmxz", 6, 6},
      {"0123-?", 4, 4},
      // Past sixteen cells a vector counts them, past 16 * 255 in parts.
      {std::string(5000, 'a') + std::string(3000, 'E') + "??", 8000, 3000},
  };
  for (const auto& c : cases) {
    alphabet_sample sample(1, static_cast<std::int32_t>(c.row.size()));
    sample.add(c.row.data());
    EXPECT_EQ(sample.counted(), c.counted) << c.row.substr(0, 20);
    EXPECT_EQ(sample.foreign(), c.foreign) << c.row.substr(0, 20);
  }
  // A row gives at most 2^20 / ntax cells, and never fewer than 64.
  const std::string row(200, 'e');
  alphabet_sample many(1 << 16, 200);
  many.add(row.data());
  EXPECT_EQ(many.counted(), 64);
}

TEST(alphabet_type, protein_and_standard_states_codes_and_datatypes) {
  const alphabet_type& protein = alphabet_type::protein();
  EXPECT_EQ(protein.states(), "acdefghiklmnpqrstvwy");
  EXPECT_EQ(protein.cell_map(), lower_case_map);
  EXPECT_EQ(protein.datatype(), "protein");
  EXPECT_EQ(protein.symbols(), "");
  const alphabet_type standard = alphabet_type::standard();
  EXPECT_EQ(standard.states(), "0123456789");
  EXPECT_EQ(standard.datatype(), "standard");
  EXPECT_EQ(standard.symbols(), "0123456789");
  // Declared in any order and case: states in code order, written as given.
  const alphabet_type letters = alphabet_type::standard("B a 1");
  EXPECT_EQ(letters.states(), "1ab");
  EXPECT_EQ(letters.symbols(), "1aB");
  EXPECT_EQ(letters.code_of(letters.state_of('b')), 'B');
  EXPECT_EQ(letters.polymorphism(letters.state_of('1') | letters.state_of('b')),
            "{1B}");
  struct {
    const alphabet_type& alphabet;
    const char* set;
    char code;
    bool polymorphic;
  } cases[] = {
      {protein, "d", 'D', false},    {protein, "dn", 'B', false},
      {protein, "eq", 'Z', false},   {protein, "il", 'J', false},
      {protein, "ak", 'X', false},   {protein, "dnq", 'X', false},
      {protein, "-", '-', false},    {protein, "a-", 'A', false},
      {protein, "dn-", '?', false},  {protein, "u", 0, false},
      {protein, "", '?', false},     {standard, "7", '7', false},
      {standard, "07", '?', true},   {standard, "0-", '0', false},
      {standard, "01-", '?', false}, {standard, "a", 0, false},
  };
  for (const auto& c : cases) {
    state_set_type bits = 0;
    for (const char* p = c.set; *p != '\0'; ++p)
      bits |= c.alphabet.state_of(*p);
    EXPECT_EQ(c.alphabet.code_of(char_set(c.set)), c.code) << c.set;
    EXPECT_EQ(c.alphabet.polymorphic(bits), c.polymorphic) << c.set;
  }
}

TEST(alphabet_type, names_datatypes_and_bad_symbols) {
  EXPECT_EQ(alphabet_type::of_name("Protein"), alphabet_type::protein());
  EXPECT_EQ(alphabet_type::of_name("dna"), alphabet_type::dna());
  EXPECT_EQ(alphabet_type::of_name("standard")->states(), "0123456789");
  EXPECT_FALSE(alphabet_type::of_name("rna2"));
  struct {
    const char* datatype;
    const char* symbols;
    const char* states;  // nullptr: no alphabet
  } declared[] = {
      {"DNA", "", "acgt"},
      {"rna", "", "acgt"},
      {"Nucleotide", "", "acgt"},
      {"PROTEIN", "", "acdefghiklmnpqrstvwy"},
      {"standard", "", "0123456789"},
      {"STANDARD", "0 1 2", "012"},
      {"restriction", "", "01"},
      {"MIXED", "", nullptr},
      {"", "", nullptr},
      {"continuous", "", nullptr},
  };
  for (const auto& d : declared) {
    const auto a = alphabet_type::of_datatype(d.datatype, d.symbols);
    if (d.states == nullptr)
      EXPECT_FALSE(a) << d.datatype;
    else
      EXPECT_EQ(a ? a->states() : "-", d.states) << d.datatype;
  }
  for (const char* bad : {"", "  ", "0?1", "01-", "0{1}", "aA", "0\xa9",
                          "0123456789abcdefghijklmnopqrstuvw"})
    EXPECT_THROW(alphabet_type::standard(bad), format_error) << bad;
}

TEST(alphabet_sample, guesses_the_alphabet_most_cells_say) {
  struct {
    const char* cells;
    alphabet_kind_type kind;
  } cases[] = {
      {"ACGT acgu NN--??", alphabet_kind_type::DNA},
      {"", alphabet_kind_type::DNA},
      {"MKVLAAGIVGLLL--", alphabet_kind_type::PROTEIN},
      {"acgtacgtMKVLEEQR", alphabet_kind_type::DNA},  // half is not most
      {"0120011??2", alphabet_kind_type::STANDARD},
      {"0101 {01} 1", alphabet_kind_type::STANDARD},
  };
  for (const auto& c : cases) {
    alphabet_sample sample(1, 1);
    sample.add_cells(c.cells);
    EXPECT_EQ(sample.guess(), c.kind) << c.cells;
  }
}

namespace {

// The cells one host gets from associates showing `column` at one site.
struct one_host {
  char_mat_type chars;
  hostpara::numeric_host_maps hosts;
  explicit one_host(const std::string& column)
      : chars(static_cast<std::int32_t>(column.size()), 1, matrix_type::DISCR) {
    for (std::size_t r = 0; r < column.size(); ++r) {
      chars.discr(static_cast<std::int32_t>(r + 1), 1) = column[r];
      hosts["H"].insert(static_cast<std::int32_t>(r + 1));
    }
  }
  char_mat_type result(const hostpara::analysis_type& a,
                       std::vector<polymorphic_cell>* poly = nullptr) {
    char_mat_type r(1, a.columns(1), a.cell_type());
    if (poly == nullptr) {
      hostpara::get_group_chars(r, chars, hosts, a);
    } else {
      hostpara::group_engine e(a, chars);
      e.select(hosts.begin()->second);
      e.compute(0, 1, r.discr_row(1), *poly);
    }
    return r;
  }
};

}  // namespace

TEST(get_group_chars, worked_cases_of_protein_and_standard_characters) {
  using hostpara::analysis_type;
  using hostpara::formula_type;
  const alphabet_type& protein = alphabet_type::protein();
  const alphabet_type standard = alphabet_type::standard();
  const alphabet_type binary = alphabet_type::standard("01");
  struct {
    const alphabet_type& alphabet;
    const char* column;
    bool gaps;
    char consensus, modus;
    float entropy;
    std::vector<std::pair<std::size_t, float>> frequencies;  // the non-zero
  } cases[] = {
      // ln 2 over the largest entropy of two symbols, ln 2.
      {protein, "dn", false, 'B', 'B', 1.0f, {{2, 0.5f}, {11, 0.5f}}},
      {protein,
       "qee",
       false,
       'Z',
       'E',
       0x1.28a484p-1f,
       {{3, 2.0f / 3.0f}, {13, 1.0f / 3.0f}}},
      {protein,
       "lil",
       false,
       'J',
       'L',
       0x1.28a484p-1f,
       {{7, 1.0f / 3.0f}, {9, 2.0f / 3.0f}}},
      {protein,
       "akw",
       false,
       'X',
       'X',
       1.0f,
       {{0, 1.0f / 3.0f}, {8, 1.0f / 3.0f}, {18, 1.0f / 3.0f}}},
      {protein, "a-", true, 'A', 'A', 1.0f, {{0, 0.5f}, {1, 0.5f}}},
      {protein, "ac-", false, 'X', 'X', 1.0f, {{0, 0.5f}, {1, 0.5f}}},
      {protein,
       "ac-",
       true,
       '?',
       '?',
       1.0f,
       {{0, 1.0f / 3.0f}, {1, 1.0f / 3.0f}, {2, 1.0f / 3.0f}}},
      {protein, "bzxu*", false, '?', '?', -99.0f, {}},
      {standard, "7", false, '7', '7', -99.0f, {{7, 1.0f}}},
      {standard, "22", false, '2', '2', 0.0f, {{2, 1.0f}}},
      {standard, "0?1", false, '?', '?', 1.0f, {{0, 0.5f}, {1, 0.5f}}},
      {standard, "0-", true, '0', '0', 1.0f, {{0, 0.5f}, {1, 0.5f}}},
      // 0.75 ln 0.75 + 0.25 ln 0.25 = -0.5623351, over ln 2.
      {binary, "0001", false, '?', '0', 0.8112781f, {{0, 0.75f}, {1, 0.25f}}},
      {binary,
       "01-",
       true,
       '?',
       '?',
       1.0f,
       {{0, 1.0f / 3.0f}, {1, 1.0f / 3.0f}, {2, 1.0f / 3.0f}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.column) + (c.gaps ? " with gaps" : ""));
    one_host host(c.column);
    const analysis_type consensus(formula_type::CONSENSUS, c.alphabet, c.gaps),
        modal(formula_type::MODUS, c.alphabet, c.gaps),
        entropy(formula_type::ENTROPY, c.alphabet, c.gaps),
        frequencies(formula_type::FREQUENCIES, c.alphabet, c.gaps);
    EXPECT_EQ(host.result(consensus).discr(1, 1), c.consensus);
    EXPECT_EQ(host.result(modal).discr(1, 1), c.modus);
    EXPECT_NEAR(host.result(entropy).quant(1, 1), c.entropy, 1e-6);
    const char_mat_type f = host.result(frequencies);
    std::vector<float> want(static_cast<std::size_t>(f.nchar()),
                            c.frequencies.empty() ? -99.0f : 0.0f);
    for (const auto& [column, value] : c.frequencies) want[column] = value;
    EXPECT_EQ(std::vector<float>(f.quant_row(1), f.quant_row(1) + f.nchar()),
              want);
  }
  // A polymorphism is "?" as one byte, and its states when asked for.
  one_host host("1013");
  std::vector<polymorphic_cell> poly;
  EXPECT_EQ(host.result({formula_type::CONSENSUS, standard, false}, &poly)
                .discr(1, 1),
            '?');
  EXPECT_EQ(poly, (std::vector<polymorphic_cell>{
                      {0, standard.state_of('0') | standard.state_of('1') |
                              standard.state_of('3')}}));
  poly.clear();
  host.result({formula_type::MODUS, standard, false}, &poly);
  EXPECT_TRUE(poly.empty());
}
