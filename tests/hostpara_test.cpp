#include <gtest/gtest.h>

#include <random>

#include "tests/test_util.hpp"
#include "zurud/zurud-hostpara.hpp"

using namespace zurud;
using namespace zurud::hostpara;
using zurud::read::text_input;

namespace {

std::vector<std::string> pairs_of(const ordered_assocs& set) {
  std::vector<std::string> out;
  for (const auto& a : set) out.push_back(a.host + "/" + a.para);
  return out;
}

ordered_assocs assocs(std::initializer_list<association> list) {
  return ordered_assocs(list);
}

}  // namespace

TEST(read_assoc, files) {
  struct {
    const char* text;
    std::vector<std::string> pairs;  // host/associate in set order
  } cases[] = {
      {"", {}},
      {"\n", {}},
      {"A1 H1\nA1 H2\n", {"H1/A1", "H2/A1"}},
      {"A1 H1 X Y\n", {"H1/A1"}},
      {"A1\nH1\n", {"H1/A1"}},
      {"A1\n\n  H1", {"H1/A1"}},
      {"P2 H2\nP9 H1\nP1 H1\n", {"H1/P1", "H1/P9", "H2/P2"}},
      {"a h1\nb H1\n", {"H1/b", "h1/a"}},
      {"A1\tH1\r\nA2\tH1\r\n", {"H1/A1", "H1/A2"}},
      {"A1 H1", {"H1/A1"}},
      // Trailing blank lines and blanks end the file normally.
      {"A1 H1\n\n", {"H1/A1"}},
      {"A1 H1\n  \n\t\n", {"H1/A1"}},
      {"A1 H1 extra\n\n", {"H1/A1"}},
      {"\n\n  A1 H1\n", {"H1/A1"}},
  };
  for (const auto& c : cases) {
    text_input in(c.text);
    ordered_assocs set;
    read_assoc(in, set);
    EXPECT_EQ(pairs_of(set), c.pairs) << c.text;
  }
}

TEST(read_assoc, duplicate_pair_fails_at_second_occurrence) {
  text_input in("A1 H1\nA2 H1\nA1 H1\nA3 H1\n");
  ordered_assocs set;
  try {
    read_assoc(in, set);
    FAIL();
  } catch (const constraint_error& e) {
    EXPECT_EQ(std::string(e.what()), "attempt to insert element already in set");
    EXPECT_NE(e.detail().find("A1 H1"), std::string::npos);
  }
  EXPECT_EQ(set.size(), 2u);
  text_input in2("A1 H1\nA1 H1\n");
  assoc_sets hashed;
  EXPECT_THROW(read_assoc(in2, hashed), constraint_error);
  EXPECT_EQ(hashed.size(), 1u);
}

TEST(read_assoc, odd_word_count_is_end_of_file_error) {
  text_input in("A1 H1\nA2\n");
  ordered_assocs set;
  try {
    read_assoc(in, set);
    FAIL();
  } catch (const end_of_file_error& e) {
    EXPECT_NE(e.detail().find("middle of a pair"), std::string::npos);
  }
  EXPECT_EQ(set.size(), 1u);
}

TEST(association, order_equality_and_hash) {
  EXPECT_TRUE((association{"H1", "P9"} < association{"H2", "P1"}));
  EXPECT_TRUE((association{"H1", "P1"} < association{"H1", "P9"}));
  EXPECT_TRUE((association{"H1", "P1"} < association{"h1", "P1"}));
  EXPECT_FALSE((association{"H1", "P1"} < association{"H1", "P1"}));
  EXPECT_TRUE(equal_assoc({"H", "P"}, {"H", "P"}));
  EXPECT_FALSE(equal_assoc({"H", "P"}, {"P", "H"}));
  EXPECT_EQ(id_assoc({"a", "b"}), sets::string_hash("a\x1c" "b"));
}

TEST(to_numeric_host_map, groups_rows_by_host) {
  const sets::taxon_maps taxa{{"P1", 1}, {"P2", 2}, {"P3", 3}};
  numeric_host_maps map;
  std::string err;
  text_output e(err);
  to_numeric_host_map(
      map, assocs({{"H2", "P1"}, {"H1", "P2"}, {"H1", "P3"}, {"P1", "P2"}}),
      taxa, e);
  e.flush();
  EXPECT_EQ(err, "");
  ASSERT_EQ(map.size(), 3u);
  EXPECT_EQ(map.begin()->first, "H1");
  EXPECT_EQ(map.at("H1"), (sets::ordered_tax_nos{2, 3}));
  EXPECT_EQ(map.at("H2"), (sets::ordered_tax_nos{1}));
  EXPECT_EQ(map.at("P1"), (sets::ordered_tax_nos{2}));  // hosts are not looked up
}

TEST(to_numeric_host_map, first_unknown_associate_in_host_order_is_reported) {
  const sets::taxon_maps taxa{{"P1", 1}};
  struct {
    ordered_assocs pairs;
    std::size_t entries_before;
  } cases[] = {{assocs({{"A", "P9"}, {"B", "P1"}}), 0},
               {assocs({{"A", "P1"}, {"B", "P9"}, {"C", "P8"}}), 1}};
  for (auto& c : cases) {
    numeric_host_maps map;
    std::string err;
    text_output e(err);
    EXPECT_THROW_MSG(to_numeric_host_map(map, c.pairs, taxa, e),
                     constraint_error,
                     "no element available because key not in map");
    e.flush();
    EXPECT_EQ(err, "Unknown parasite: P9\n");
    EXPECT_EQ(map.size(), c.entries_before);
  }
}

TEST(filter, removes_small_groups_with_warnings_in_host_order) {
  numeric_host_maps map{{"B", {1}}, {"A", {2}}, {"C", {1, 2, 3}}, {"D", {4, 5}}};
  std::string err;
  text_output e(err);
  filter(map, 2, e);
  e.flush();
  EXPECT_EQ(err,
            "WARNING: Removing host A (# associates below threshold)\n"
            "WARNING: Removing host B (# associates below threshold)\n");
  EXPECT_EQ(map.size(), 2u);
  for (std::int32_t minimum : {1, 0, -5}) {
    numeric_host_maps m{{"A", {1}}};
    std::string none;
    text_output quiet(none);
    filter(m, minimum, quiet);
    quiet.flush();
    EXPECT_EQ(m.size(), 1u);
    EXPECT_EQ(none, "");
  }
  numeric_host_maps exact{{"A", {1, 2, 3}}};
  std::string none;
  text_output quiet(none);
  filter(exact, 3, quiet);
  EXPECT_EQ(exact.size(), 1u);
}

TEST(entropy, single_precision_to_the_last_bit) {
  struct {
    const char* s;
    float h;
  } cases[] = {{"aaaa", 0.0f},         {"aacc", 0x1.62e43p-1f},
               {"acgt", 0x1.62e43p+0f}, {"cagt", 0x1.62e43p+0f},
               {"aaag", 0x1.1fea64p-1f}, {"aag", 0x1.45e53p-1f},
               {"aacg", 0x1.0a2b24p+0f}};
  for (const auto& c : cases) EXPECT_EQ(entropy(c.s), c.h) << c.s;
  EXPECT_THROW(entropy(""), constraint_error);
}

TEST(max_entropy, tables_for_four_and_five_states) {
  ent_val_type four(8), five(8);
  max_entropy(four, nuc_set);
  max_entropy(five, gapped_nuc_set);
  const double want4[] = {0.0,       0.6931472, 1.0986123, 1.3862944,
                          1.3321791, 1.3296614, 1.3517840, 1.3862944};
  const double want5[] = {0.0,       0.6931472, 1.0986123, 1.3862944,
                          1.6094379, 1.5607104, 1.5498261, 1.5595810};
  for (int i = 0; i < 8; ++i) {
    EXPECT_NEAR(four[i], want4[i], 1e-7) << i;
    EXPECT_NEAR(five[i], want5[i], 1e-7) << i;
  }
  EXPECT_EQ(four[3], entropy("acgt"));
  ent_val_type none;
  EXPECT_NO_THROW(max_entropy(none, nuc_set));
  ent_val_type one(1);
  EXPECT_THROW(max_entropy(one, char_set{}), constraint_error);
}

TEST(modal_values, ties_in_code_order) {
  struct {
    const char* s;
    const char* modes;
  } cases[] = {{"aacct", "ac"}, {"tga", "agt"}, {"ggga", "g"},
               {"c", "c"},      {"tt", "tt"},   {"--a", "-"}};
  for (const auto& c : cases) EXPECT_EQ(modal_values(c.s), c.modes) << c.s;
  EXPECT_THROW(modal_values(""), constraint_error);
}

TEST(nuc_amb, is_filled_before_main) { EXPECT_EQ(nuc_amb.size(), 31u); }

namespace {

// One host "H" whose associates show `column[r]` at the single character.
struct one_site {
  char_mat_type chars;
  numeric_host_maps hosts;
  explicit one_site(std::string column)
      : chars(static_cast<std::int32_t>(column.size()), 1, matrix_type::DISCR) {
    sets::ordered_tax_nos rows;
    for (std::size_t r = 0; r < column.size(); ++r) {
      chars.discr(static_cast<std::int32_t>(r + 1), 1) = column[r];
      rows.insert(static_cast<std::int32_t>(r + 1));
    }
    hosts["H"] = rows;
  }
  char discrete(const char_set& states, bool modal) {
    char_mat_type r(1, 1, matrix_type::DISCR);
    get_group_chars(r, chars, hosts, states, modal);
    return r.discr(1, 1);
  }
  float entropy_value(const char_set& states) {
    char_mat_type r(1, 1, matrix_type::QUANT);
    get_group_chars(r, chars, hosts, states, false);
    return r.quant(1, 1);
  }
  std::vector<float> frequencies(const char_set& states) {
    const std::int32_t k = states.size();
    char_mat_type r(1, k, matrix_type::QUANT);
    get_group_chars(r, chars, hosts, states, false);
    return std::vector<float>(r.quant_row(1), r.quant_row(1) + k);
  }
};

}  // namespace

TEST(get_group_chars, host_rows_for_each_formula) {
  struct {
    const char* column;
    bool gaps;
    char consensus, modus;
    float entropy;
    std::vector<float> freq;
  } cases[] = {
      {"ag", false, 'r', 'r', 1.0f, {0.5f, 0.0f, 0.5f, 0.0f}},
      {"aag", false, 'r', 'a', 0x1.28a484p-1f,
       {2.0f / 3.0f, 0.0f, 1.0f / 3.0f, 0.0f}},
      {"aacg", false, 'v', 'a', 0.75f,
       {0.5f, 0.25f, 0.25f, 0.0f}},
      {"??", false, '?', '?', -99.0f, {-99.0f, -99.0f, -99.0f, -99.0f}},
      {"--", false, '?', '?', -99.0f, {-99.0f, -99.0f, -99.0f, -99.0f}},
      {"--", true, '-', '-', 0.0f, {1.0f, 0.0f, 0.0f, 0.0f, 0.0f}},
      {"a?", false, 'a', 'a', -99.0f, {1.0f, 0.0f, 0.0f, 0.0f}},
      {"a-", true, 'a', 'a', 1.0f, {0.5f, 0.5f, 0.0f, 0.0f, 0.0f}},
      {"a-", false, 'a', 'a', -99.0f, {1.0f, 0.0f, 0.0f, 0.0f}},
      {"ac-", true, '?', '?', 1.0f,
       {1.0f / 3.0f, 1.0f / 3.0f, 1.0f / 3.0f, 0.0f, 0.0f}},
      {"ac-", false, 'm', 'm', 1.0f, {0.5f, 0.5f, 0.0f, 0.0f}},
      {"rrn", false, '?', '?', -99.0f, {-99.0f, -99.0f, -99.0f, -99.0f}},
  };
  for (const auto& c : cases) {
    one_site site(c.column);
    const char_set& states = c.gaps ? gapped_nuc_set : nuc_set;
    EXPECT_EQ(site.discrete(states, false), c.consensus) << c.column;
    EXPECT_EQ(site.discrete(states, true), c.modus) << c.column;
    EXPECT_EQ(site.entropy_value(states), c.entropy) << c.column;
    EXPECT_EQ(site.frequencies(states), c.freq) << c.column;
  }
}

TEST(get_group_chars, group_sizes_and_row_comments) {
  one_site site("acg");
  char_mat_type sizes(1, 1, matrix_type::CNTCH);
  get_group_chars(sizes, site.chars, site.hosts, nuc_set, false);
  EXPECT_EQ(sizes.count(1, 1), 3);
  EXPECT_EQ(sizes.labels(1), "H");
  EXPECT_EQ(sizes.comments(1), "");
  char_mat_type cons(1, 1, matrix_type::DISCR);
  get_group_chars(cons, site.chars, site.hosts, nuc_set, false);
  EXPECT_EQ(cons.comments(1), " 3");
}

TEST(get_group_chars, shapes_that_fit_no_formula) {
  one_site site("ac");
  char_mat_type quant_chars(2, 1, matrix_type::QUANT);
  struct {
    const char_mat_type& chars;
    std::int32_t cols;
    matrix_type type;
  } cases[] = {{site.chars, 2, matrix_type::CNTCH},
               {site.chars, 2, matrix_type::DISCR},
               {site.chars, 3, matrix_type::QUANT},
               {quant_chars, 1, matrix_type::DISCR}};
  for (const auto& c : cases) {
    char_mat_type r(1, c.cols, c.type);
    EXPECT_THROW(get_group_chars(r, c.chars, site.hosts, nuc_set, false),
                 matrix_error);
  }
}

TEST(get_group_chars, more_rows_than_hosts) {
  one_site site("ac");
  char_mat_type r(2, 1, matrix_type::DISCR);
  EXPECT_THROW_MSG(get_group_chars(r, site.chars, site.hosts, nuc_set, false),
                   constraint_error,
                   "Position cursor of function Key equals No_Element");
  EXPECT_EQ(r.labels(1), "H");
  EXPECT_EQ(r.discr(1, 1), 'm');
}

TEST(get_group_chars, states_without_a_code_fail_as_the_table_does) {
  one_site site("nn");
  char_mat_type r(1, 1, matrix_type::DISCR);
  EXPECT_THROW_MSG(get_group_chars(r, site.chars, site.hosts, char_set("acgtn"),
                                   false),
                   constraint_error, "no element available because key not in map");
}

TEST(get_group_chars, fast_path_equals_plain_path_on_random_data) {
  std::mt19937 rng(12345);
  const std::string alphabet = "aaaaccccggggtttt--??nrAC";
  for (int trial = 0; trial < 6; ++trial) {
    const std::int32_t ntax = 1 + static_cast<std::int32_t>(rng() % 40);
    const std::int32_t nchar = 1 + static_cast<std::int32_t>(rng() % 9000);
    char_mat_type chars(ntax, nchar, matrix_type::DISCR);
    for (std::int32_t i = 1; i <= ntax; ++i)
      for (std::int32_t j = 1; j <= nchar; ++j)
        chars.discr(i, j) = alphabet[rng() % alphabet.size()];
    numeric_host_maps hosts;
    for (std::int32_t i = 1; i <= ntax; ++i) {
      hosts["H" + std::to_string(rng() % 7)].insert(i);
      if (rng() % 4 == 0) hosts["H" + std::to_string(rng() % 7)].insert(i);
    }
    const auto nhosts = static_cast<std::int32_t>(hosts.size());
    for (const char_set& states : {nuc_set, gapped_nuc_set}) {
      const std::int32_t k = states.size();
      struct {
        matrix_type type;
        std::int32_t cols;
        bool modal;
      } shapes[] = {{matrix_type::DISCR, nchar, false},
                    {matrix_type::DISCR, nchar, true},
                    {matrix_type::QUANT, nchar, false},
                    {matrix_type::QUANT, nchar * k, false}};
      for (const auto& s : shapes) {
        char_mat_type fast(nhosts, s.cols, s.type), plain(nhosts, s.cols, s.type);
        get_group_chars(fast, chars, hosts, states, s.modal);
        zurud::hostpara::detail::fill_rows_plain(plain, chars, hosts, states, s.modal);
        EXPECT_TRUE(fast == plain) << "trial " << trial;
      }
    }
  }
}
