#include <gtest/gtest.h>

#include "tests/test_util.hpp"
#include "zurud/zurud-sets.hpp"

using namespace zurud;
using namespace zurud::sets;

TEST(string_hash, rotate_and_add) {
  EXPECT_EQ(string_hash(""), 0u);
  EXPECT_EQ(string_hash("a"), 97u);
  EXPECT_EQ(string_hash("ab"), 97u * 8 + 98);
  // Wrapping: twelve bytes of 255 rotate the high bits round.
  std::uint32_t h = 0;
  for (int i = 0; i < 12; ++i) h = ((h << 3) | (h >> 29)) + 255u;
  EXPECT_EQ(string_hash(std::string(12, '\xff')), h);
}

TEST(id_charset, hashes_members_in_code_order) {
  EXPECT_EQ(id_charset(char_set{}), 0u);
  EXPECT_EQ(id_charset(char_set{"a"}), 97u);
  EXPECT_EQ(id_charset(char_set{"ba"}), 874u);
}

TEST(to_taxon_map, rows_and_duplicates) {
  taxon_maps map;
  to_taxon_map(tax_lab_type{"Ab", "ab", "ab "}, map);
  EXPECT_EQ(map.size(), 3u);
  EXPECT_EQ(map.at("ab "), 3);
  try {
    to_taxon_map(tax_lab_type{"x", "Ab"}, map);
    FAIL();
  } catch (const constraint_error& e) {
    EXPECT_EQ(std::string(e.what()), "attempt to insert key already in map");
    EXPECT_NE(e.detail().find("\"Ab\""), std::string::npos);
  }
  EXPECT_EQ(map.at("x"), 1);  // entered before the failure
  EXPECT_THROW_MSG(to_taxon_map(tax_lab_type{"x"}, map), constraint_error,
                   "attempt to insert key already in map");
}

TEST(to_taxon_map, indices_outside_1_to_5000_are_a_range_error) {
  taxon_maps map;
  EXPECT_THROW(to_taxon_map(tax_lab_type(1, 0), map), range_error);
  EXPECT_THROW(to_taxon_map(tax_lab_type(1, 5001), map), range_error);
  EXPECT_NO_THROW(to_taxon_map(tax_lab_type(0), map));
}

TEST(label_sets, order_and_duplicates) {
  ordered_taxa ordered;
  to_ordered_taxa(tax_lab_type{"abc", "a", "B", "ab", "\xe9t\xe9", "z"},
                  ordered);
  EXPECT_EQ(std::vector<std::string>(ordered.begin(), ordered.end()),
            (std::vector<std::string>{"B", "a", "ab", "abc", "z",
                                      "\xe9t\xe9"}));
  EXPECT_THROW_MSG(to_ordered_taxa(tax_lab_type{"z"}, ordered),
                   constraint_error, "attempt to insert element already in set");
  taxon_sets hashed;
  to_taxon_set(tax_lab_type{"a", "b"}, hashed);
  EXPECT_THROW_MSG(to_taxon_set(tax_lab_type{"c", "a"}, hashed),
                   constraint_error, "attempt to insert element already in set");
  EXPECT_TRUE(hashed.contains("c"));
}

TEST(get_nuc_amb, codes) {
  const charset_maps map = get_nuc_amb();
  EXPECT_EQ(map.size(), 31u);
  struct {
    const char* set;
    char code;
  } cases[] = {{"ag", 'r'},  {"acgt", 'n'}, {"cgt", 'b'},  {"agt", 'd'},
               {"-", '-'},   {"c-", 'c'},   {"ag-", '?'},  {"acgt-", '?'},
               {"aaa", 'a'}, {"ct", 'y'},   {"ac", 'm'},   {"gt", 'k'},
               {"cg", 's'},  {"at", 'w'},   {"act", 'h'},  {"acg", 'v'}};
  for (const auto& c : cases) EXPECT_EQ(map.at(char_set(c.set)), c.code) << c.set;
  for (const char* missing : {"", "n", "A"})
    EXPECT_FALSE(map.contains(char_set(missing))) << missing;
  EXPECT_EQ(get_nuc_amb(), map);
}
