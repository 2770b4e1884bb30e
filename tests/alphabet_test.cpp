#include <gtest/gtest.h>

#include <string>

#include "tests/test_util.hpp"
#include "zurud/zurud-alphabet.hpp"
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
