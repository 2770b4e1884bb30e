#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "zurud/zurud-print.hpp"
#include "zurud/zurud.hpp"

using namespace zurud;
using namespace zurud::print;

namespace {

template <class F>
std::string written(F write) {
  std::string sink;
  text_output out(sink);
  write(out);
  out.flush();
  return sink;
}

std::string c_real(float v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "% .5E", static_cast<double>(v));
  return buf;
}

const char* const footer =
    "\t;\n"
    "end;\n"
    "\n"
    "begin paup;\n"
    "\tset torder=left tcompress taxlabels=full outroot=monophyl\n"
    "\t\tautoclose maxtrees=1000 increase=auto autoinc=1000\n"
    "\t\tstoretreewts storebrlens rootmethod=outgroup\n"
    "\t\twarnroot=no;\n"
    "\tpset opt=deltran collapse=minbrlen;\n"
    "\tdset dcollapse distance=hky85 missdist=ignore rates=equal\n"
    "\t\tpinvar=0;\n"
    "\tdefaults nj bionj breakties=random;\n"
    "\tdefaults upgma bionj breakties=random;\n"
    "\tdefaults bootstrap grpfreq=no;\n"
    "\tdefaults contree grpfreq=no;\n"
    "\tdefaults hsearch addseq=random;\n"
    "\tdefaults savedist triangle=both;\n"
    "end;\n"
    "\n";

const char* const dist_footer =
    "\t;\n"
    "end;\n"
    "\n"
    "begin paup;\n"
    "\tset torder=left tcompress taxlabels=full outroot=monophyl\n"
    "\t\tautoclose maxtrees=1000 increase=auto autoinc=1000\n"
    "\t\tstoretreewts storebrlens rootmethod=outgroup\n"
    "\t\twarnroot=no;\n"
    "\tdefaults nj bionj breakties=random;\n"
    "\tdefaults upgma bionj breakties=random;\n"
    "\tdefaults contree grpfreq=no;\n"
    "\tdefaults hsearch addseq=random;\n"
    "\tdefaults savedist triangle=both;\n"
    "end;\n"
    "\n";

// Two hosts as the grouping leaves them: comment, labels, group sizes.
char_mat_type mice(std::int32_t nchar, matrix_type type) {
  char_mat_type m(2, nchar, type);
  m.comment = "mingrpsize= 2";
  m.labels(1) = "Apodemus";
  m.labels(2) = "Mus musculus";
  m.comments(1) = " 3";
  m.comments(2) = " 2";
  return m;
}

char_mat_type mice_discr() {
  char_mat_type m = mice(3, matrix_type::DISCR);
  for (int j = 0; j < 3; ++j) {
    m.discr(1, j + 1) = "acg"[j];
    m.discr(2, j + 1) = "a?t"[j];
  }
  return m;
}

}  // namespace

TEST(print_real, examples_and_decided_special_values) {
  struct {
    float value;
    const char* text;
  } cases[] = {
      {1.0f, " 1.00000E+00"},      {0.5f, " 5.00000E-01"},
      {0.0f, " 0.00000E+00"},      {-0.0f, " 0.00000E+00"},
      {12.345f, " 1.23450E+01"},   {2.0f / 3.0f, " 6.66667E-01"},
      {0.00001f, " 1.00000E-05"},  {-99.0f, "-9.90000E+01"},
      {9.999996f, " 1.00000E+01"}, {-9.999996f, "-1.00000E+01"},
      {FLT_MAX, " 3.40282E+38"},   {FLT_TRUE_MIN, " 1.40130E-45"},
      {INFINITY, " INF"},          {-INFINITY, "-INF"},
      {std::nanf(""), " NAN"},     {-std::nanf(""), " NAN"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(real_image(c.value), c.text) << c.value;
    EXPECT_EQ(written([&](text_output& out) { put_real(out, c.value); }),
              c.text);
  }
}

TEST(print_real, equals_c_library_text_for_finite_floats) {
  std::vector<float> values = {
      9.999995f,    9.999996f,        99999.95f, 999999.5f, 1234565.0f,
      1234575.0f,   0.0009765625f,    FLT_MIN,   FLT_MAX,   -FLT_MAX,
      FLT_TRUE_MIN, 2 * FLT_TRUE_MIN, 1e-40f,    0.1f,      1.0f / 3};
  for (int e = -45; e <= 38; ++e) values.push_back(std::pow(10.0f, e));
  for (int n = 1; n <= 200; ++n)
    for (int c = 0; c <= n; ++c)
      values.push_back(static_cast<float>(c) / static_cast<float>(n));
  std::mt19937 random(12345);
  while (values.size() < 300000) {
    const float v = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
    if (std::isfinite(v) && v != 0.0f) values.push_back(v);
  }
  int failures = 0;
  for (float v : values) {
    if (real_image(v) != c_real(v) && ++failures <= 10)
      ADD_FAILURE() << std::hexfloat << v << ": " << real_image(v)
                    << " != " << c_real(v);
  }
}

TEST(print_real, cached_matrix_cells_equal_c_library_text) {
  // Many distinct values and repeats collide in the writer's cache.
  const std::int32_t nchar = 20000;
  char_mat_type m(1, nchar, matrix_type::QUANT);
  m.labels(1) = "x";
  std::mt19937 random(7);
  std::string expected = " 1\t " + std::to_string(nchar) + "\nx";
  for (std::int32_t j = 1; j <= nchar; ++j) {
    float v = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
    if (j % 3 == 0) v = static_cast<float>(random() % 50) / 7.0f;
    if (std::isnan(v)) v = -99.0f;
    m.quant(1, j) = v;
    expected += '\t';
    expected += std::isinf(v) ? (v < 0 ? "-INF" : " INF") : c_real(v);
  }
  expected += '\n';
  EXPECT_EQ(written([&](text_output& out) {
              print_char_mat(m, char_format_type::EXTENDED_PHYLIP, out);
            }),
            expected);
}

TEST(print_integer, leading_blank_for_zero_or_more) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, " 0"},
      {2, " 2"},
      {5000, " 5000"},
      {-99, "-99"},
      {INT64_MAX, " 9223372036854775807"},
      {INT64_MIN, "-9223372036854775808"}};
  for (const auto& [value, text] : cases)
    EXPECT_EQ(written([&, v = value](text_output& out) { put_integer(out, v); }),
              text);
}

TEST(print_label, nexus_cleaning) {
  const std::pair<const char*, const char*> cases[] = {
      {"Homo sapiens", "Homo_sapiens"},
      {" (Ab-c) ", "Ab_c"},
      {"x'y", "x_y"},
      {"a+b=c;", "a_b_c"},
      {"a.b", "a.b"},
      {"\xe9t\xe9", "\xe9t\xe9"},
      {"a\tb\x7F", "a_b"},
      // UTF-8 names keep every byte: Ørsted, Łódź, Ελλάς, Москва, 東京.
      {"\xC3\x98rsted", "\xC3\x98rsted"},
      {"\xC5\x81\xC3\xB3\x64\xC5\xBA", "\xC5\x81\xC3\xB3\x64\xC5\xBA"},
      {"\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCF\x82",
       "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCF\x82"},
      {" \xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0 ",
       "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0"},
      {"\xE6\x9D\xB1\xE4\xBA\xAC", "\xE6\x9D\xB1\xE4\xBA\xAC"},
      {"a \xE2\x80\x94 b", "a_\xE2\x80\x94_b"},
      {"--", ""},
      {"", ""}};
  for (const auto& [label, text] : cases)
    EXPECT_EQ(to_nexus_label(label), text) << label;
}

TEST(print_label, character_matrix_layouts) {
  using enum char_format_type;
  struct {
    const char* label;
    char_format_type layout;
    std::size_t width;
    const char* text;
  } cases[] = {
      {"Homo sapiens", PHYLIP, 15, "Homo sapie"},
      {"ab", PHYLIP, 0, "ab        "},
      {"Homo sapiens", EXTENDED_PHYLIP, 15, "Homo_sapiens   "},
      {"Pan troglodytes", COMMENTED_PHYLIP, 15, "Pan_troglodytes"},
      {"Homo sapiens", NEXUS, 15, "Homo_sapiens   "},
      {"Homo sapiens", NEXUS_ENCLOSED, 17, "'Homo sapiens'   "},
      {"Pan troglodytes", NEXUS_ENCLOSED, 17, "'Pan troglodytes'"},
      {"x'y", NEXUS_ENCLOSED, 5, "'x`y'"},
      {" a-", EXTENDED_PHYLIP, 3, "_a-"},
      {" a-", NEXUS, 3, "a  "},
      {"(+)", NEXUS, 4, "    "},
      {"a\tb", NEXUS, 3, "a_b"},
      {"a\tb", EXTENDED_PHYLIP, 3, "a\tb"},
      {"a\tb", NEXUS_ENCLOSED, 5, "'a\tb'"},
      {"abc", EXTENDED_PHYLIP, 0, ""},
      {"abc", NEXUS, 2, "ab"},
      {"abc", NEXUS_ENCLOSED, 4, "'abc"},
      {"", EXTENDED_PHYLIP, 3, "   "},
      {"", NEXUS_ENCLOSED, 4, "''  "},
  };
  for (const auto& c : cases)
    EXPECT_EQ(written([&](text_output& out) {
                print_label(c.label, c.layout, c.width, out);
              }),
              c.text)
        << c.label << " in layout " << static_cast<int>(c.layout);
}

TEST(print_label, distance_matrix_layouts) {
  using enum dist_format_type;
  struct {
    const char* label;
    dist_format_type layout;
    std::size_t width;
    const char* text;
  } cases[] = {
      {"Pan troglodytes", PHYLIP, 3, "Pan troglo"},
      {"B c", EXTENDED_PHYLIP, 4, "B_c "},
      {"(B c)", NEXUS, 6, "B_c   "},
      {"x'y", NEXUS_ENCLOSED, 6, "'x`y' "},
      {" a b ", TAB, 1, " a b "},
      {" a b ", ONE_COLUMN, 1, " a b "},
      {" a b ", RAW, 9, " a b "},
  };
  for (const auto& c : cases)
    EXPECT_EQ(written([&](text_output& out) {
                print_label(c.label, c.layout, c.width, out);
              }),
              c.text)
        << c.label << " in layout " << static_cast<int>(c.layout);
}

TEST(print_label, max_label_length) {
  EXPECT_EQ(max_label_length(tax_lab_type{"a", "abc", "ab"}), 3);
  EXPECT_EQ(max_label_length(tax_lab_type{}), 1);
  EXPECT_THROW(max_label_length(tax_lab_type{"a", ""}), range_error);
  EXPECT_EQ(max_label_length(sequence_vecs{{"ab", "", "x"}, {"abcd", "", ""}}),
            4);
  EXPECT_EQ(max_label_length(sequence_vecs{}), 1);
  EXPECT_THROW(max_label_length(sequence_vecs{{"", "", "x"}}), range_error);
}

TEST(print_char_nums, numbers_up_to_first_multiple_of_ten_above_nchar) {
  struct {
    std::int32_t nchar, width;
    const char* text;
  } cases[] = {
      {9, 1, "[\t        10]\n[\t         .]\n"},
      {10, 3, "[  \t        10        20]\n[  \t         .         .]\n"},
      {25, 1,
       "[\t        10        20        30]\n"
       "[\t         .         .         .]\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(written([&](text_output& out) {
                print_char_nums(c.nchar, c.width, out);
              }),
              c.text)
        << c.nchar;
}

TEST(print_footer, only_nexus_layouts_have_one) {
  using enum char_format_type;
  for (auto layout : {PHYLIP, EXTENDED_PHYLIP, COMMENTED_PHYLIP})
    EXPECT_EQ(written([&](text_output& out) { print_footer(layout, out); }),
              "");
  for (auto layout : {NEXUS, NEXUS_ENCLOSED})
    EXPECT_EQ(written([&](text_output& out) { print_footer(layout, out); }),
              footer);
}

TEST(print_char_mat, discrete_matrix_in_every_layout) {
  using enum char_format_type;
  const std::string nexus_head =
      "#NEXUS\n"
      "\n"
      "[mingrpsize= 2]\n"
      "\n"
      "begin data;\n"
      "\tdimensions ntax= 2 nchar= 3;\n"
      "\tformat datatype=nucleotide gap=- missing=?;\n"
      "\tmatrix\n";
  const std::pair<char_format_type, std::string> cases[] = {
      {PHYLIP,
       " 2\t 3\n"
       "Apodemus  \tacg\n"
       "Mus muscul\ta?t\n"},
      {EXTENDED_PHYLIP,
       " 2\t 3\n"
       "Apodemus    \tacg\n"
       "Mus_musculus\ta?t\n"},
      {COMMENTED_PHYLIP,
       " 2\t 3\t[mingrpsize= 2]\n"
       "Apodemus    \t[3]\tacg\n"
       "Mus_musculus\t[2]\ta?t\n"},
      {NEXUS, nexus_head +
                  "[           \t        10]\n"
                  "[           \t         .]\n"
                  "Apodemus    \tacg\t[ 3]\n"
                  "Mus_musculus\ta?t\t[ 2]\n" +
                  footer},
      {NEXUS_ENCLOSED, nexus_head +
                           "[             \t        10]\n"
                           "[             \t         .]\n"
                           "'Apodemus'    \tacg\t[ 3]\n"
                           "'Mus musculus'\ta?t\t[ 2]\n" +
                           footer},
  };
  const char_mat_type m = mice_discr();
  for (const auto& [layout, text] : cases)
    EXPECT_EQ(
        written([&, l = layout](text_output& out) { print_char_mat(m, l, out); }),
        text)
        << static_cast<int>(layout);
}

TEST(char_mat_writer, declares_the_alphabet_and_writes_polymorphisms) {
  const alphabet_type standard = alphabet_type::standard("01A");
  const state_set_type zero_one =
      standard.state_of('0') | standard.state_of('1');
  const std::vector<polymorphic_cell> poly{
      {0, zero_one}, {2, zero_one | standard.state_of('a')}};
  struct {
    char_format_type layout;
    const alphabet_type& alphabet;
    std::string format_line, row;
    std::int64_t missing;
  } cases[] = {
      {char_format_type::NEXUS, alphabet_type::protein(),
       "\tformat datatype=protein gap=- missing=?;", "H\tX1X?\n", 0},
      {char_format_type::NEXUS, standard,
       "\tformat datatype=standard symbols=\"01A\" gap=- missing=?;",
       "H\t{01}1{01A}?\n", 0},
      {char_format_type::EXTENDED_PHYLIP, standard, "", "H\t?1??\n", 2},
  };
  for (const auto& c : cases) {
    char_mat_writer w(c.layout, matrix_type::DISCR, 1, true, c.alphabet);
    const std::string head =
        written([&](text_output& o) { w.put_header(o, 1, 4, ""); });
    EXPECT_NE(head.find(c.format_line), std::string::npos) << head;
    const std::string row = written([&](text_output& o) {
      w.put_row_start(o, "H", "");
      if (c.alphabet == standard)
        w.put_cells(o, "?1??", 4, poly);
      else
        w.put_cells(o, "X1X?", 4);
      w.put_row_end(o, "");
    });
    EXPECT_EQ(row, c.row);
    EXPECT_EQ(w.missing_polymorphisms(), c.missing);
  }
}

TEST(print_char_mat, quantitative_matrix) {
  char_mat_type m = mice(3, matrix_type::QUANT);
  const float cells[] = {1.0f, 0.5f, -99.0f, 0.0f, 0.25f, 1.0f};
  for (int k = 0; k < 6; ++k) m.quant(k / 3 + 1, k % 3 + 1) = cells[k];
  EXPECT_EQ(written([&](text_output& out) {
              print_char_mat(m, char_format_type::EXTENDED_PHYLIP, out);
            }),
            " 2\t 3\n"
            "Apodemus    \t 1.00000E+00\t 5.00000E-01\t-9.90000E+01\n"
            "Mus_musculus\t 0.00000E+00\t 2.50000E-01\t 1.00000E+00\n");
  EXPECT_EQ(written([&](text_output& out) {
              print_char_mat(m, char_format_type::NEXUS, out);
            }),
            std::string("#NEXUS\n"
                        "\n"
                        "[mingrpsize= 2]\n"
                        "\n"
                        "begin data;\n"
                        "\tdimensions ntax= 2 nchar= 3;\n"
                        "\tformat datatype=numerical missing=?;\n"
                        "\tmatrix\n"
                        "Apodemus    \t 1.00000E+00\t 5.00000E-01\t-9.90000E+01"
                        "\t[ 3]\n"
                        "Mus_musculus\t 0.00000E+00\t 2.50000E-01\t 1.00000E+00"
                        "\t[ 2]\n") +
                footer);
}

TEST(print_char_mat, count_matrix) {
  char_mat_type m = mice(1, matrix_type::CNTCH);
  m.comments(1) = "";
  m.comments(2) = "";
  m.count(1, 1) = 3;
  m.count(2, 1) = 2;
  EXPECT_EQ(written([&](text_output& out) {
              print_char_mat(m, char_format_type::COMMENTED_PHYLIP, out);
            }),
            " 2\t 1\t[mingrpsize= 2]\n"
            "Apodemus    \t[]\t 3\n"
            "Mus_musculus\t[]\t 2\n");
  m.count(2, 1) = -7;
  EXPECT_EQ(written([&](text_output& out) {
              print_char_mat(m, char_format_type::NEXUS, out);
            }),
            std::string("#NEXUS\n"
                        "\n"
                        "[mingrpsize= 2]\n"
                        "\n"
                        "begin data;\n"
                        "\tdimensions ntax= 2 nchar= 1;\n"
                        "\tformat datatype=numerical missing=?;\n"
                        "\tmatrix\n"
                        "Apodemus    \t 3\n"
                        "Mus_musculus\t-7\n") +
                footer);
}

TEST(print_char_mat, comments_are_trimmed_or_braced_by_layout) {
  char_mat_type m(1, 1, matrix_type::DISCR);
  m.labels(1) = "a";
  m.discr(1, 1) = 'c';
  m.comment = " [\t] ";
  m.comments(1) = " a [b] c ";
  EXPECT_EQ(written([&](text_output& out) {
              print_char_mat(m, char_format_type::COMMENTED_PHYLIP, out);
            }),
            " 1\t 1\n"
            "a\t[a_[b]_c]\tc\n");
  EXPECT_EQ(written([&](text_output& out) {
              print_char_mat(m, char_format_type::PHYLIP, out);
            }),
            " 1\t 1\n"
            "a         \tc\n");
  EXPECT_EQ(written([&](text_output& out) {
              print_char_mat(m, char_format_type::NEXUS, out);
            }),
            std::string("#NEXUS\n"
                        "\n"
                        "[ {\t} ]\n"
                        "\n"
                        "begin data;\n"
                        "\tdimensions ntax= 1 nchar= 1;\n"
                        "\tformat datatype=nucleotide gap=- missing=?;\n"
                        "\tmatrix\n"
                        "[\t        10]\n"
                        "[\t         .]\n"
                        "a\tc\t[ a {b} c ]\n") +
                footer);
  m.comment = "";
  m.comments(1) = "";
  const std::string nexus = written([&](text_output& out) {
    print_char_mat(m, char_format_type::NEXUS, out);
  });
  EXPECT_EQ(nexus.substr(0, 20), "#NEXUS\n\nbegin data;\n");
  EXPECT_NE(nexus.find("\na\tc\n\t;\n"), std::string::npos);
}

TEST(print_char_mat, empty_label_fails_before_output) {
  char_mat_type m = mice_discr();
  m.labels(2) = "";
  EXPECT_THROW(written([&](text_output& out) {
                 print_char_mat(m, char_format_type::NEXUS, out);
               }),
               range_error);
  EXPECT_EQ(written([&](text_output& out) {
              print_char_mat(m, char_format_type::PHYLIP, out);
            }),
            " 2\t 3\nApodemus  \tacg\n          \ta?t\n");
}

TEST(print_char_mat, convert_chars_maps_only_discrete_cells) {
  char_mat_type m(2, 4, matrix_type::DISCR);
  const char* rows[] = {"AcG?", "-1T\xc9"};
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 4; ++j) m.discr(i + 1, j + 1) = rows[i][j];
  convert_chars(m, lower_case_map);
  EXPECT_EQ(std::string(m.discr_row(1), 4), "acg?");
  EXPECT_EQ(std::string(m.discr_row(2), 4), "-1t\xe9");

  char_mat_type q(1, 1, matrix_type::QUANT);
  q.quant(1, 1) = 65.0f;
  char_mat_type c(1, 1, matrix_type::CNTCH);
  c.count(1, 1) = 65;
  convert_chars(q, lower_case_map);
  convert_chars(c, lower_case_map);
  EXPECT_EQ(q.quant(1, 1), 65.0f);
  EXPECT_EQ(c.count(1, 1), 65);
}

TEST(print_sequences, extended_phylip_and_nexus) {
  const sequence_vecs seqs{{"seq one", "spare", "ACGT-"}, {"s2", "", "ACGTA"}};
  const std::string phylip =
      " 2\t 5\n"
      "seq_one\tACGT-\n"
      "s2     \tACGTA\n";
  EXPECT_EQ(written([&](text_output& out) {
              print_char_mat(seqs, char_format_type::EXTENDED_PHYLIP, out);
            }),
            phylip);
  EXPECT_EQ(written([&](text_output& out) {
              print_char_mat(seqs, char_format_type::COMMENTED_PHYLIP, out);
            }),
            phylip);
  EXPECT_EQ(written([&](text_output& out) {
              print_char_mat(seqs, char_format_type::NEXUS, out);
            }),
            std::string("#NEXUS\n"
                        "\n"
                        "begin data;\n"
                        "\tdimensions ntax= 2 nchar= 5;\n"
                        "\tformat datatype=nucleotide gap=- missing=?;\n"
                        "\tmatrix\n"
                        "[      \t        10]\n"
                        "[      \t         .]\n"
                        "seq_one\tACGT-\n"
                        "s2     \tACGTA\n") +
                footer);
}

TEST(print_sequences, failures_come_before_any_output) {
  struct {
    sequence_vecs seqs;
    bool unaligned;
  } cases[] = {
      {{{"a", "", "ACGT"}, {"b", "", "ACG"}}, true},
      {{}, false},
      {{{"a", "", ""}, {"b", "", ""}}, false},
      {{{"a", "", std::string(1048577, 'a')}}, false},
      {{{"a", "", "AC"}, {"", "", "GT"}}, false},
  };
  for (const auto& c : cases) {
    std::string sink;
    text_output out(sink);
    if (c.unaligned) {
      try {
        print_char_mat(c.seqs, char_format_type::NEXUS, out);
        ADD_FAILURE() << "unaligned sequences printed";
      } catch (const unaligned_error& e) {
        // The first sequence that differs is named.
        EXPECT_EQ(e.detail(), "\"b\" has 3 residues, the first sequence \"a\" 4");
      }
    } else
      EXPECT_THROW(print_char_mat(c.seqs, char_format_type::NEXUS, out),
                   range_error);
    out.flush();
    EXPECT_EQ(sink, "");
  }
}

TEST(print_dist_mat, two_taxa_in_every_layout) {
  dist_mat_type d(2);
  d.labels(1) = "A";
  d.labels(2) = "B c";
  d.distances.set(1, 1, 0.0f);
  d.distances.set(1, 2, 0.5f);
  d.distances.set(2, 1, 0.5f);
  d.distances.set(2, 2, 0.0f);
  const std::string nexus_head =
      "#NEXUS\n"
      "\n"
      "begin distances;\n"
      "\tdimensions newtaxa ntax= 2;\n"
      "\tformat triangle=both labels;\n"
      "\tmatrix\n";
  using enum dist_format_type;
  const std::pair<dist_format_type, std::string> cases[] = {
      {PHYLIP,
       " 2\n"
       "A         \t 0.00000E+00\t 5.00000E-01\n"
       "B c       \t 5.00000E-01\t 0.00000E+00\n"},
      {EXTENDED_PHYLIP,
       " 2\n"
       "A  \t 0.00000E+00\t 5.00000E-01\n"
       "B_c\t 5.00000E-01\t 0.00000E+00\n"},
      {TAB,
       "\tA\tB c\n"
       "A\t 0.00000E+00\t 5.00000E-01\n"
       "B c\t 5.00000E-01\t 0.00000E+00\n"},
      {NEXUS, nexus_head +
                  "A  \t 0.00000E+00\t 5.00000E-01\n"
                  "B_c\t 5.00000E-01\t 0.00000E+00\n" +
                  dist_footer},
      {NEXUS_ENCLOSED, nexus_head +
                           "'A'  \t 0.00000E+00\t 5.00000E-01\n"
                           "'B c'\t 5.00000E-01\t 0.00000E+00\n" +
                           dist_footer},
      {ONE_COLUMN, "B c\tA\t 5.00000E-01\n"},
      {RAW,
       "A\t 0.00000E+00\t 5.00000E-01\n"
       "B c\t 5.00000E-01\t 0.00000E+00\n"},
  };
  for (const auto& [layout, text] : cases)
    EXPECT_EQ(
        written([&, l = layout](text_output& out) { print_dist_mat(d, l, out); }),
        text)
        << static_cast<int>(layout);
}

TEST(print_dist_mat, one_taxon) {
  dist_mat_type d(1);
  d.labels(1) = "x'y";
  d.distances.set(1, 1, 0.0f);
  EXPECT_EQ(written([&](text_output& out) {
              print_dist_mat(d, dist_format_type::ONE_COLUMN, out);
            }),
            "");
  EXPECT_EQ(written([&](text_output& out) {
              print_dist_mat(d, dist_format_type::NEXUS_ENCLOSED, out);
            }),
            std::string("#NEXUS\n"
                        "\n"
                        "begin distances;\n"
                        "\tdimensions newtaxa ntax= 1;\n"
                        "\tformat triangle=both labels;\n"
                        "\tmatrix\n"
                        "'x`y'\t 0.00000E+00\n") +
                dist_footer);
}
