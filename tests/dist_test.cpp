#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/test_util.hpp"
#include "zurud/zurud-hostpara.hpp"
#include "zurud/zurud-print.hpp"
#include "zurud/zurud-read.hpp"

using namespace zurud;
using namespace zurud::hostpara;
using zurud::read::text_input;

namespace {

// Header and rows, as a caller reads them.
dist_mat_type read_text(const std::string& text, dist_format_type layout) {
  text_input in(text);
  dist_mat_type m(read::read_dist_header(in, layout));
  read::read_dist_mat(in, layout, m);
  return m;
}

std::vector<std::string> labels_of(const tax_lab_type& labels) {
  return {labels.begin(), labels.end()};
}

std::vector<float> values_of(const dist_mat_type& m) {
  std::vector<float> v;
  for (std::int32_t i = 1; i <= m.ntax(); ++i)
    for (std::int32_t j = 1; j <= m.ntax(); ++j) v.push_back(m.distances(i, j));
  return v;
}

dist_mat_type matrix_of(const std::vector<std::vector<float>>& rows) {
  dist_mat_type m(static_cast<std::int32_t>(rows.size()));
  for (std::int32_t i = 1; i <= m.ntax(); ++i) {
    m.labels(i) = "t" + std::to_string(i);
    for (std::int32_t j = 1; j <= m.ntax(); ++j)
      m.distances.set(i, j, rows[i - 1][j - 1]);
  }
  return m;
}

}  // namespace

TEST(read_dist_mat, rows_in_each_layout) {
  using enum dist_format_type;
  struct {
    dist_format_type layout;
    std::string text;
    std::vector<std::string> labels;
    std::vector<float> values;
  } cases[] = {
      {TAB,
       "\tA\tB c\tC\n"
       "A\t0\t1\t2\n"
       "B c\t1\t0\t3\n"
       "C\t2\t3\t0\n",
       {"A", "B c", "C"},
       {0, 1, 2, 1, 0, 3, 2, 3, 0}},
      // Exactly ten characters, even with a value right after them.
      {PHYLIP,
       " 2\n"
       "Homo      0 0.5\n"
       "Pan troglo0.5 0\n",
       {"Homo      ", "Pan troglo"},
       {0, 0.5f, 0.5f, 0}},
      // The diagonal is stored as read; no line feed after the last row.
      {EXTENDED_PHYLIP,
       "2\n"
       "A 1.5 2\n"
       "B 2 7.25",
       {"A", "B"},
       {1.5f, 2, 2, 7.25f}},
      // A row may run over several lines; what follows its last value goes.
      {RAW,
       "2\n"
       "x_1\t0\n"
       "  1 note\n"
       "y_2 1 0 [note]\n",
       {"x_1", "y_2"},
       {0, 1, 1, 0}},
      {NEXUS_ENCLOSED,
       "1\n"
       "z 3.40282347E+38\n",
       {"z"},
       {max_float}},
  };
  for (const auto& c : cases) {
    const dist_mat_type m = read_text(c.text, c.layout);
    EXPECT_EQ(labels_of(m.labels), c.labels) << c.text;
    EXPECT_EQ(values_of(m), c.values) << c.text;
  }
}

TEST(read_dist_mat, failures_name_their_row) {
  struct {
    std::string text;
    std::string kind;
    std::string detail;
  } cases[] = {
      {"2\nA 0 1\nB -0.5 0\n", "range error", "row 2 of 2"},
      {"2\nA 0 3.5E+38\nB 1 0\n", "range error", "row 1 of 2"},
      {"2\nA 0 x\nB 1 0\n", "format error", "row 1 of 2"},
      {"2\nA 0 1\nB 1", "end-of-file error", "row 2 of 2"},
      // What hostdist writes as NEXUS or ONE_COLUMN is not read back.
      {"#NEXUS\n\nbegin distances;\n", "format error",
       "a NEXUS distances block is not read: write the matrix as PHYLIP, "
       "EXTENDED_PHYLIP or TAB"},
      {"B\tA\t 1.0E+00\n", "format error",
       "a distance matrix starts with the number of taxa"},
  };
  for (const auto& c : cases) {
    try {
      read_text(c.text, dist_format_type::EXTENDED_PHYLIP);
      ADD_FAILURE() << "no failure for " << c.text;
    } catch (const error& e) {
      EXPECT_EQ(e.kind(), c.kind) << c.text;
      EXPECT_EQ(e.detail(), c.detail) << c.text;
    }
  }
}

TEST(read_fast_dist_mat, fills_row_by_row_up_to_its_size) {
  const std::string text =
      "3\n"
      "A 1 2 3\n"
      "B 4 5 6\n"
      "C 7 8 9\n";
  {
    text_input in(text);
    fast_dist_mat_type m(read::read_dist_header(in, dist_format_type::PHYLIP),
                         9);
    read::read_fast_dist_mat(in, dist_format_type::EXTENDED_PHYLIP, m);
    for (std::int32_t k = 1; k <= 9; ++k)
      EXPECT_EQ(m.distances(k), static_cast<float>(k));
    EXPECT_EQ(labels_of(m.labels), (std::vector<std::string>{"A", "B", "C"}));
  }
  {
    // The ninth value is read, then refused.
    text_input in(text);
    fast_dist_mat_type m(read::read_dist_header(in, dist_format_type::PHYLIP),
                         8);
    EXPECT_THROW(read::read_fast_dist_mat(in, dist_format_type::EXTENDED_PHYLIP,
                                          m),
                 range_error);
    EXPECT_EQ(m.distances(8), 8.0f);
    EXPECT_TRUE(in.end_of_line());
  }
}

TEST(read_dist_file, tab_column_labels_must_equal_the_row_labels) {
  struct {
    std::string text;
    std::string message;  // empty: read
  } cases[] = {
      {"\tA\tB\r\n"
       "A\t0\t1\r\n"
       "B\t1\t0\r\n",
       ""},
      {"\xef\xbb\xbftaxa\tA\tB\n"
       "A\t0\t1\n"
       "B\t1\t0\n",
       ""},
      // The rows in another order were paired with the wrong columns.
      {"\ta\tb\tc\n"
       "c\t0.3\t0.2\t0\n"
       "a\t0\t0.25\t0.3\n"
       "b\t0.25\t0\t0.2\n",
       "the row label \"c\" differs from column 1's \"a\""},
      {"\tA\tB\n"
       "A\t0\t1\n"
       "C\t1\t0\n",
       "the row label \"C\" differs from column 2's \"B\""},
      {"A\tB\n"
       "A\t0\t1\n"
       "B\t1\t0\n",
       "the row label \"A\" differs from column 1's \"B\""},
  };
  for (const auto& c : cases) {
    text_input in(c.text);
    try {
      const dist_mat_access m = read::read_dist_file(in, dist_format_type::TAB);
      EXPECT_EQ(c.message, "") << c.text;
      EXPECT_EQ(labels_of(m->labels), (std::vector<std::string>{"A", "B"}));
      EXPECT_EQ(values_of(*m), (std::vector<float>{0, 1, 1, 0}));
    } catch (const format_error& e) {
      EXPECT_EQ(e.what(), c.message) << c.text;
    }
  }
}

TEST(read_dist_table, shapes_of_r_pandas_and_spreadsheets) {
  struct {
    std::string text;
    std::vector<std::string> labels;
  } cases[] = {
      // write.table(m, sep = "\t", quote = FALSE): no cell before the labels.
      {"a\tb c\n"
       "a\t0\t1e-04\n"
       "b c\t1e-04\t0\n",
       {"a", "b c"}},
      // write.csv(m)
      {"\"\",\"a\",\"b c\"\n"
       "\"a\",0,1e-04\n"
       "\"b c\",1e-04,0\n",
       {"a", "b c"}},
      // write.csv2(m): decimal commas.
      {"\"\";\"a\";\"b\"\n"
       "\"a\";0;0,0001\n"
       "\"b\";0,0001;0\n",
       {"a", "b"}},
      // write.table(as.matrix(d)): blanks, quoted.
      {"\"a\" \"b\"\n"
       "\"a\" 0 1e-04\n"
       "\"b\" 1e-04 0\n",
       {"a", "b"}},
      // to_csv of pandas, a name for the rows, a spreadsheet's BOM and CR LF,
      // blanks around fields and a blank line.
      {"\xef\xbb\xbflouse , a , b\r\n"
       "\r\n"
       " a , 0.0 , +1E-4\r\n"
       "b,0.0001,0.0\r\n",
       {"a", "b"}},
      // Quotes hold separators and doubled quotes; a missing diagonal is 0.
      {",\"x,\"\"y\"\"\",z\n"
       "\"x,\"\"y\"\"\",NA,1e-04\n"
       "z,0.0001,\n",
       {"x,\"y\"", "z"}},
  };
  for (const auto& c : cases) {
    text_input in(c.text);
    const dist_mat_access m = read::read_dist_table(in);
    EXPECT_EQ(labels_of(m->labels), c.labels) << c.text;
    EXPECT_EQ(values_of(*m), (std::vector<float>{0, 1e-4f, 1e-4f, 0}))
        << c.text;
    EXPECT_TRUE(in.exhausted()) << c.text;
  }
  // One column: the separator is told from the row.
  text_input one("a\na;0,5\nassociate host\n");
  const dist_mat_access m = read::read_dist_table(one);
  EXPECT_EQ(values_of(*m), (std::vector<float>{0.5f}));
  EXPECT_EQ(read::get_word(one, whitespace), "associate");  // left unread
}

TEST(read_dist_table, refusals_name_what_and_where) {
  struct {
    std::string text;
    std::string kind;
    std::string message;
    std::int64_t line;
  } cases[] = {
      {" \n\n", "end-of-file error", "the distance file is empty", 0},
      {",a,b\n"
       "a,0,1\n"
       "b,1\n",
       "format error", "row 2 has 2 fields, not 3", 3},
      {",a,b\n"
       "b,0,1\n",
       "format error", "the row label \"b\" differs from column 1's \"a\"", 2},
      {",a,b\n"
       "a,0,NA\n",
       "format error", "no distance from \"a\" to \"b\": \"NA\"", 2},
      {",a,b\n"
       "a,0,Inf\n",
       "format error", "not a number: \"Inf\"", 2},
      {",a,b\n"
       "a,0,-0.5\n",
       "range error", "distance -0.5 outside 0.0 .. 3.40282347E+38", 2},
      {",a,b\n"
       "a,0,1e999\n",
       "range error", "distance 1e999 outside 0.0 .. 3.40282347E+38", 2},
      {",\"a\n"
       "a\",0\n",
       "format error", "a quoted field runs past the end of its line", 0},
      {",\"a\"x\n", "format error",
       "text after the closing quote of field 2: \"a\"", 0},
      {",a,b\n", "end-of-file error", "the table ends after its header line",
       0},
      {",a,b\n"
       "a,0,1\n",
       "end-of-file error", "the table ends after row 1 of 2", 0},
      {"a\n"
       "a\n",
       "format error", "no separator of fields on the first two lines", 0},
      {",a\n\"" + std::string(10001, 'a') + "\",0\n",
       "format error", "a field of more than 10000 characters", 0},
  };
  for (const auto& c : cases) {
    text_input in(c.text);
    try {
      read::read_dist_table(in);
      ADD_FAILURE() << "no failure for " << c.text;
    } catch (const error& e) {
      EXPECT_EQ(e.kind(), c.kind) << c.text;
      EXPECT_EQ(e.what(), c.message) << c.text;
      EXPECT_EQ(e.line(), c.line) << c.text;
    }
  }
}

// Whatever the writer produces in a layout with a readable header, the reader
// gives back. Values are multiples of 1/16 below 100, which the writer's six
// significant digits hold exactly.
TEST(read_dist_mat, reads_back_what_print_dist_mat_writes) {
  using enum dist_format_type;
  std::mt19937 rng(20240611);
  const std::string alphabet = "abcXYZ019._-";
  auto label = [&](std::size_t max_len, bool blanks) {
    std::string s(1 + rng() % max_len, 'a');
    for (char& ch : s) ch = alphabet[rng() % alphabet.size()];
    if (blanks && s.size() > 2) s[1 + rng() % (s.size() - 2)] = ' ';
    return s;
  };
  for (int round = 0; round < 20; ++round) {
    for (dist_format_type layout : {PHYLIP, EXTENDED_PHYLIP, TAB, RAW}) {
      const auto n = static_cast<std::int32_t>(1 + rng() % 12);
      dist_mat_type m(n);
      for (std::int32_t i = 1; i <= n; ++i) {
        // PHYLIP and TAB keep blanks; the word layouts write them as "_".
        m.labels(i) = label(layout == PHYLIP ? 10 : 30,
                            layout == PHYLIP || layout == TAB);
        for (std::int32_t j = 1; j <= n; ++j)
          m.distances.set(i, j, static_cast<float>(rng() % 1600) / 16.0f);
      }
      std::string text;
      {
        text_output out(text);
        // RAW has no header: give it the count line of the word layouts.
        if (layout == RAW) out.put_line(std::to_string(n));
        print::print_dist_mat(m, layout, out);
        out.flush();
      }
      const dist_mat_type back = read_text(text, layout);
      for (std::int32_t i = 1; i <= n; ++i) {
        std::string want = m.labels(i);
        if (layout == PHYLIP) want.resize(10, ' ');
        EXPECT_EQ(back.labels(i), want) << text;
      }
      EXPECT_EQ(values_of(back), values_of(m)) << text;
    }
  }
}

// Associates 1 | 2 3 on hosts A | B; D(1,2) = 4, D(1,3) = 6, D(2,3) = 1, and
// a diagonal of 0.5 that only MEAN and MAX may see.
TEST(get_pbc, two_hosts_under_each_rule) {
  const dist_mat_type D =
      matrix_of({{0.5f, 4, 6}, {4, 0.5f, 1}, {6, 1, 0.5f}});
  const numeric_host_maps hosts{{"B", {2, 3}}, {"A", {1}}};
  struct {
    dist_func_type rule;
    float between, diag_a, diag_b;
  } cases[] = {
      {dist_func_type::MIN, 4.0f, 0.0f, 0.0f},
      {dist_func_type::MEAN, 5.0f, 0.5f, 0.75f},  // (0.5 + 1 + 1 + 0.5) / 4
      {dist_func_type::MAX, 6.0f, 0.5f, 1.0f},
      {dist_func_type::PBC, 14.0f / 3.0f, 0.0f, 0.0f},  // (4 + 4 + 6) / 3
  };
  for (const auto& c : cases) {
    dist_mat_type R(2);
    get_pbc(R, D, hosts, c.rule);
    EXPECT_EQ(labels_of(R.labels), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(values_of(R), (std::vector<float>{c.diag_a, c.between,
                                                c.between, c.diag_b}))
        << static_cast<int>(c.rule);
  }
}

TEST(get_pbc, one_host_gets_its_distance_to_itself_under_mean_and_max) {
  const dist_mat_type D = matrix_of({{0, 2}, {2, 0}});
  // The second host is beyond R and ignored.
  const numeric_host_maps hosts{{"A", {1, 2}}, {"Z", {1}}};
  struct {
    dist_func_type rule;
    float diag;
  } cases[] = {{dist_func_type::MIN, 0.0f},
               {dist_func_type::MEAN, 1.0f},
               {dist_func_type::MAX, 2.0f},
               {dist_func_type::PBC, 0.0f}};
  for (const auto& c : cases) {
    dist_mat_type R(1);
    get_pbc(R, D, hosts, c.rule);
    EXPECT_EQ(R.labels(1), "A");
    EXPECT_EQ(R.distances(1, 1), c.diag) << static_cast<int>(c.rule);
  }
}

// The minimum once started at 1000000.0, so hosts further apart than that
// came out at exactly 1000000.0.
TEST(get_pbc, minima_above_a_million_are_kept) {
  const dist_mat_type D =
      matrix_of({{0, 2e6f, 3e6f}, {2e6f, 0, 1}, {3e6f, 1, 0}});
  const numeric_host_maps hosts{{"A", {1}}, {"B", {2, 3}}};
  dist_mat_type R(2);
  get_pbc(R, D, hosts, dist_func_type::MIN);
  EXPECT_EQ(R.distances(1, 2), 2e6f);
  get_pbc(R, D, hosts, dist_func_type::PBC);
  EXPECT_EQ(R.distances(2, 1), (2e6f + 2e6f + 3e6f) / 3.0f);
}

TEST(get_pbc, failures) {
  const dist_mat_type D = matrix_of({{0, 3e38f}, {3e38f, 0}});
  {
    // 3e38 + 3e38 overflows the running sum.
    const numeric_host_maps hosts{{"A", {1}}, {"B", {1, 2}}, {"C", {2}}};
    for (dist_func_type rule : {dist_func_type::MEAN, dist_func_type::PBC}) {
      dist_mat_type R(3);
      EXPECT_THROW(get_pbc(R, D, hosts, rule), range_error);
    }
    dist_mat_type R(3);
    get_pbc(R, D, hosts, dist_func_type::MAX);
    EXPECT_EQ(R.distances(1, 3), 3e38f);
  }
  {
    const numeric_host_maps hosts{{"A", {1}}, {"B", {3}}};
    dist_mat_type R(2);
    EXPECT_THROW_MSG(get_pbc(R, D, hosts, dist_func_type::MIN),
                     constraint_error, "index check failed");
  }
  {
    const numeric_host_maps hosts{{"A", {1}}, {"B", {2}}};
    dist_mat_type R(3);
    EXPECT_THROW_MSG(get_pbc(R, D, hosts, dist_func_type::MAX),
                     constraint_error,
                     "Position cursor of function Key equals No_Element");
    EXPECT_EQ(R.labels(1), "A");  // written before the walk ran out
    EXPECT_EQ(R.distances(1, 2), 3e38f);
  }
}

TEST(host_maps, sets_map_and_filter_by_label) {
  const ordered_assocs assocs{{"H2", "P1"}, {"H1", "P2"}, {"H1", "P3"}};
  sets::ordered_taxa host_set, para_set;
  to_taxon_set(host_set, assocs, assoc_part::HOST);
  to_taxon_set(para_set, assocs, assoc_part::PARA);
  EXPECT_EQ(host_set, (sets::ordered_taxa{"H1", "H2"}));
  EXPECT_EQ(para_set, (sets::ordered_taxa{"P1", "P2", "P3"}));
  host_maps map;
  to_host_map(map, assocs);
  EXPECT_EQ(map, (host_maps{{"H1", {"P2", "P3"}}, {"H2", {"P1"}}}));

  {
    sets::ordered_taxa s = host_set;
    host_maps m = map;
    filter(s, m, 1);
    EXPECT_EQ(m, map);
    EXPECT_EQ(s, host_set);
  }
  std::string err;
  text_output e(err);
  filter(host_set, map, 2, e);
  e.flush();
  EXPECT_EQ(err, "WARNING: Removing host H2 (# associates below threshold)\n");
  EXPECT_EQ(map, (host_maps{{"H1", {"P2", "P3"}}}));
  EXPECT_EQ(host_set, (sets::ordered_taxa{"H1"}));
}

TEST(host_maps, filter_fails_on_a_host_without_entry_before_warning) {
  sets::ordered_taxa host_set{"A", "B", "C"};
  host_maps map{{"A", {"p"}}, {"C", {"q", "r"}}};
  std::string err;
  text_output e(err);
  EXPECT_THROW_MSG(filter(host_set, map, 2, e), constraint_error,
                   key_not_in_map_msg);
  e.flush();
  EXPECT_EQ(err, "WARNING: Removing host A (# associates below threshold)\n");
  EXPECT_EQ(host_set, (sets::ordered_taxa{"B", "C"}));
}

TEST(read_dist_file, tab_header_labels_are_words_of_at_most_10000_characters) {
  const std::string label(zurud::max_word_len + 1, 'a');
  zurud::read::text_input in("\t" + label + "\n" + label + "\t0\n");
  try {
    zurud::read::read_dist_file(in, zurud::dist_format_type::TAB);
    FAIL() << "a label of 10001 characters was read";
  } catch (const zurud::format_error& e) {
    EXPECT_EQ(e.line(), 1);
  }
}
