// The fast paths against the straightforward ones, on generated inputs of
// odd shapes: the row scan against one get_black per cell, the skimming
// reader and the lower-casing reader against read_char_mat, the vectorised
// grouping against fill_rows_plain, and the cached real texts against
// put_real.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "karvo/karvo.hpp"
#include "tests/test_util.hpp"
#include "zurud/zurud-hostpara.hpp"
#include "zurud/zurud-print.hpp"
#include "zurud/zurud-read.hpp"

using namespace zurud;
using zurud::read::text_input;

namespace {

// Cells of every kind a reader may meet: bases in both cases, gaps,
// ambiguity letters, Latin-1 letters (192-222 lower-case, 215 does not),
// the black characters next to the whitespace codes (33, 126, 128, 255) and
// the bytes of UTF-8 letters after the first (128-191).
constexpr std::string_view cell_chars =
    "ACGTacgtACGTacgt-?nNrRyY.0!~"
    "\xC0\xD6\xD7\xD8\xDE\xDF\xE0\xA0\xFF\x80\x85\x9F";
// ASCII cells only, as most files have them: whole blocks then take the
// readers' ASCII paths. The letters next to A-Z and a-z are among them, and
// "u" and "U", which the site mapping turns into "t".
constexpr std::string_view ascii_cell_chars = "ACGTUacgtu-?nN.0!~@Z[`z{";
// Whitespace between cells: blank, TAB, CR LF, a page break after a line
// end, and the other ASCII controls (1-31, 127).
const std::vector<std::string> separators = {
    " ", "\t", "\r\n", "\n", "\n\f", "\x01", "\x7F", "\x1C", "\x1F", "  \t "};

struct row_style {
  const char* name;
  double white;  // chance of whitespace before a cell
};
const row_style styles[] = {
    {"one line", 0.0},          {"a blank now and then", 0.02},
    {"blocks of ten", 0.1},     {"blank between every cell", 1.0},
    {"mostly whitespace", 0.7},
};

// A matrix text: header, then rows of a label and `nchar` cells with
// whitespace as the style says, each row ended by a comment and a line end.
std::string matrix_text(std::mt19937& rng, int ntax, int nchar,
                        const row_style& style,
                        std::string_view cells = cell_chars) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::string text = std::to_string(ntax) + " " + std::to_string(nchar) + "\n";
  for (int i = 1; i <= ntax; ++i) {
    text += "t" + std::to_string(i) + " ";
    for (int j = 0; j < nchar; ++j) {
      if (u(rng) < style.white) text += separators[rng() % separators.size()];
      text += cells[rng() % cells.size()];
    }
    text += "   [rest of the line is skipped]\n";
  }
  return text;
}

// The reference reader: one get_black per cell.
void read_plain(text_input& in, char_mat_type& m) {
  for (std::int32_t i = 1; i <= m.ntax(); ++i) {
    m.labels(i) = read::read_label(in, label_format_type::EXTENDED_PHYLIP);
    for (std::int32_t j = 1; j <= m.nchar(); ++j)
      m.discr(i, j) = read::get_black(in, whitespace);
    if (!in.exhausted()) in.skip_line();
  }
}

std::string rest_of(text_input& in) {
  std::string rest;
  while (!in.exhausted()) rest += in.read_line(std::string::npos) + "\n";
  return rest;
}

}  // namespace

TEST(read_char_mat, row_scan_equals_cell_by_cell_reading) {
  for (const bool avx2 : {true, false}) {
    const vector_width width(avx2);
    std::mt19937 rng(2024);
    struct {
      int ntax, nchar;
    } shapes[] = {{1, 1},  {1, 31},  {3, 32},   {2, 33}, {4, 64},
                  {2, 65}, {5, 200}, {1, 5000}, {7, 1}};
    for (const auto& shape : shapes) {
      for (const auto& style : styles) {
        const std::string text =
            matrix_text(rng, shape.ntax, shape.nchar, style);
        const std::string trail = "after\n";
        text_input fast_in(text + trail), plain_in(text + trail);
        read::read_header(fast_in);
        read::read_header(plain_in);
        char_mat_type fast(shape.ntax, shape.nchar, matrix_type::DISCR);
        char_mat_type plain(shape.ntax, shape.nchar, matrix_type::DISCR);
        read::read_char_mat(fast_in, char_format_type::EXTENDED_PHYLIP, fast);
        read_plain(plain_in, plain);
        const std::string where = std::to_string(shape.ntax) + " x " +
                                  std::to_string(shape.nchar) + ", " +
                                  style.name;
        EXPECT_TRUE(fast == plain) << where;
        EXPECT_EQ(fast_in.line(), plain_in.line()) << where;
        EXPECT_EQ(rest_of(fast_in), trail) << where;
      }
    }
  }
}

TEST(read_char_mat, mapping_while_reading_equals_converting_afterwards) {
  for (const bool avx2 : {true, false}) {
    const vector_width width(avx2);
    std::mt19937 rng(7);
    const char_mapping other{"acgt", "TGCA"};
    for (const char_mapping* map : {&lower_case_map, &site_map, &other}) {
      for (const std::string_view cells : {cell_chars, ascii_cell_chars}) {
        for (const auto& style : styles) {
          const std::string text = matrix_text(rng, 3, 300, style, cells);
          text_input mapped_in(text), plain_in(text);
          read::read_header(mapped_in);
          read::read_header(plain_in);
          char_mat_type mapped(3, 300, matrix_type::DISCR);
          char_mat_type plain(3, 300, matrix_type::DISCR);
          read::read_char_mat(mapped_in, char_format_type::EXTENDED_PHYLIP,
                              mapped, *map);
          read::read_char_mat(plain_in, char_format_type::EXTENDED_PHYLIP,
                              plain);
          print::convert_chars(plain, *map);
          EXPECT_TRUE(mapped == plain) << style.name;
        }
      }
    }
  }
}

TEST(skim_char_mat, consumes_and_labels_as_read_char_mat_does) {
  for (const bool avx2 : {true, false}) {
    const vector_width width(avx2);
    std::mt19937 rng(11);
    for (const auto& style : styles) {
      const std::string text = matrix_text(rng, 4, 150, style) + "x y\n";
      text_input skim_in(text), read_in(text);
      read::read_header(skim_in);
      read::read_header(read_in);
      char_mat_type skimmed(4, 150, matrix_type::DISCR);
      char_mat_type read(4, 150, matrix_type::DISCR);
      read::skim_char_mat(skim_in, char_format_type::EXTENDED_PHYLIP, skimmed);
      read::read_char_mat(read_in, char_format_type::EXTENDED_PHYLIP, read);
      EXPECT_EQ(skimmed.labels, read.labels) << style.name;
      EXPECT_EQ(skim_in.line(), read_in.line()) << style.name;
      EXPECT_EQ(rest_of(skim_in), rest_of(read_in)) << style.name;
    }
  }
}

TEST(skim_char_mat, fails_where_read_char_mat_fails) {
  for (const bool avx2 : {true, false}) {
    const vector_width width(avx2);
    struct {
      const char* name;
      std::string text;
    } cases[] = {
        {"cells missing in the last row",
         "2 40\na " + std::string(40, 'A') + "\nb " + std::string(39, 'C')},
        {"rows missing", "3 5\na ACGTA\n"},
        {"ends inside a label", "2 5\na ACGTA\nbb"},
        {"ends after a label", "1 70\nlabel \r\n"},
    };
    for (const auto& c : cases) {
      std::string skim_error, read_error;
      for (bool skim : {true, false}) {
        text_input in(c.text);
        const auto h = read::read_header(in);
        char_mat_type m(h.ntax, h.nchar, matrix_type::DISCR);
        try {
          if (skim)
            read::skim_char_mat(in, char_format_type::EXTENDED_PHYLIP, m);
          else
            read::read_char_mat(in, char_format_type::EXTENDED_PHYLIP, m);
          ADD_FAILURE() << c.name << ": no failure";
        } catch (const end_of_file_error& e) {
          (skim ? skim_error : read_error) = std::string(e.what()) + " / " +
                                             e.detail() + " / line " +
                                             std::to_string(in.line());
        }
      }
      EXPECT_EQ(skim_error, read_error) << c.name;
    }
  }
}

TEST(skim_char_mat, reads_labels_of_every_layout_as_read_char_mat_does) {
  struct {
    char_format_type layout;
    const char* text;
  } cases[] = {
      {char_format_type::PHYLIP,
       "2 4\nHomo      ACGT\nMus mus   \nac gt trailing\n"},
      {char_format_type::EXTENDED_PHYLIP, "2 4\nHomo\tAC\nGT\nMus  acgt\n"},
      {char_format_type::COMMENTED_PHYLIP,
       "2 4\nHomo\t[3]\tACGT\nMus\t[_2_]\ta c g t\n"},
  };
  for (const auto& c : cases) {
    text_input skim_in(c.text), read_in(c.text), lower_in(c.text);
    for (text_input* in : {&skim_in, &read_in, &lower_in})
      read::read_header(*in);
    char_mat_type skimmed(2, 4, matrix_type::DISCR);
    char_mat_type read(2, 4, matrix_type::DISCR);
    char_mat_type lowered(2, 4, matrix_type::DISCR);
    read::skim_char_mat(skim_in, c.layout, skimmed);
    read::read_char_mat(read_in, c.layout, read);
    read::read_char_mat(lower_in, c.layout, lowered, lower_case_map);
    print::convert_chars(read, lower_case_map);
    EXPECT_EQ(skimmed.labels, read.labels) << c.text;
    EXPECT_TRUE(lowered == read) << c.text;
    EXPECT_TRUE(skim_in.exhausted() && read_in.exhausted()) << c.text;
  }
}

// Files larger than the input buffer: line numbers stay right when the
// buffer moves on.
TEST(text_input, line_numbers_stay_right_across_buffer_refills) {
  for (const bool avx2 : {true, false}) {
    const vector_width width(avx2);
    std::mt19937 rng(5);
    const std::string text = matrix_text(rng, 40, 20000, styles[2]) + "tail";
    char name[] = "/tmp/speed_test_XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, text.data(), text.size()),
              static_cast<ssize_t>(text.size()));
    close(fd);
    // The row scan counts the line feeds it passes; the text input counts
    // the rest, and neither may count a buffer's text twice.
    for (const bool skim : {true, false}) {
      text_input in = text_input::open(name);
      const auto h = read::read_header(in);
      char_mat_type m(h.ntax, h.nchar, matrix_type::DISCR);
      if (skim)
        read::skim_char_mat(in, char_format_type::EXTENDED_PHYLIP, m);
      else
        read::read_char_mat(in, char_format_type::EXTENDED_PHYLIP, m,
                            site_map);
      EXPECT_EQ(in.line(), std::count(text.begin(), text.end(), '\n') + 1)
          << (skim ? "passed over" : "read");
    }
    std::remove(name);
  }
}

TEST(get_group_chars, fast_path_equals_plain_path_on_odd_shapes) {
  for (const bool avx2 : {true, false}) {
    const vector_width width(avx2);
    std::mt19937 rng(99);
    struct {
      const char* name;
      std::int32_t ntax, nchar;
      std::vector<std::int32_t> group_sizes;  // consecutive rows per host
    } cases[] = {
        {"one site", 6, 1, {2, 3, 1}},
        {"one associate", 1, 70, {1}},
        {"sites across a vector", 9, 33, {4, 5}},
        {"sites across a block", 10, 4100, {3, 7}},
        {"host of 300 associates", 310, 97, {300, 10}},
        {"host of 600 associates", 600, 40, {600}},
    };
    for (const auto& c : cases) {
      const char_mat_type chars = test_alignment(rng, c.ntax, c.nchar, 50);
      hostpara::numeric_host_maps hosts;
      std::int32_t row = 1;
      for (std::size_t h = 0; h < c.group_sizes.size(); ++h)
        for (std::int32_t k = 0; k < c.group_sizes[h]; ++k)
          hosts["h" + std::to_string(h)].insert(row++);
      // Some associates on a second host, and a host without any.
      for (std::int32_t r = 1; r <= c.ntax; r += 3) hosts["shared"].insert(r);
      hosts["empty"];
      const auto nhosts = static_cast<std::int32_t>(hosts.size());
      for (const char_set& states : {nuc_set, gapped_nuc_set}) {
        const std::int32_t k = states.size();
        struct {
          matrix_type type;
          std::int32_t cols;
          bool modal;
        } shapes[] = {{matrix_type::DISCR, c.nchar, false},
                      {matrix_type::DISCR, c.nchar, true},
                      {matrix_type::QUANT, c.nchar, false},
                      {matrix_type::QUANT, c.nchar * k, false}};
        for (const auto& s : shapes) {
          char_mat_type fast(nhosts, s.cols, s.type);
          char_mat_type plain(nhosts, s.cols, s.type);
          hostpara::get_group_chars(fast, chars, hosts, states, s.modal);
          hostpara::detail::fill_rows_plain(plain, chars, hosts, states,
                                            s.modal);
          EXPECT_TRUE(fast == plain)
              << c.name << ", " << k << " states, " << s.cols << " columns"
              << (s.modal ? ", modal" : "");
        }
      }
    }
  }
}

TEST(get_group_chars, fast_path_fails_as_plain_path_on_states_without_code) {
  for (const bool avx2 : {true, false}) {
    const vector_width width(avx2);
    // "u" has no ambiguity code: both paths give up with the table's message.
    const char_set states{"acgu"};
    char_mat_type chars(2, 40, matrix_type::DISCR);
    for (std::int32_t j = 1; j <= 40; ++j)
      chars.discr(1, j) = chars.discr(2, j) = 'a';
    chars.discr(1, 37) = chars.discr(2, 37) = 'u';
    hostpara::numeric_host_maps hosts{{"h", {1, 2}}};
    for (bool modal : {false, true}) {
      char_mat_type fast(1, 40, matrix_type::DISCR),
          plain(1, 40, matrix_type::DISCR);
      EXPECT_THROW_MSG(
          hostpara::get_group_chars(fast, chars, hosts, states, modal),
          constraint_error, key_not_in_map_msg);
      EXPECT_THROW_MSG(
          hostpara::detail::fill_rows_plain(plain, chars, hosts, states, modal),
          constraint_error, key_not_in_map_msg);
    }
  }
}

TEST(print_char_mat, cached_real_texts_equal_fresh_ones) {
  // More distinct values than the cache has slots, so slots are reused.
  std::mt19937 rng(3);
  std::vector<float> values = {0.0f,    -0.0f,      1.0f,        -99.0f,
                               0.5f,    9.999996f,  1.0f / 3.0f, 1e-45f,
                               3.4e38f, 2.0f / 3.0f};
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  while (values.size() < 20000) values.push_back(u(rng));
  for (int i = 0; i < 20000; ++i)
    values.push_back(values[rng() % values.size()]);
  const auto ncol = static_cast<std::int32_t>(values.size() / 4);
  char_mat_type m(4, ncol, matrix_type::QUANT);
  for (std::int32_t i = 1; i <= 4; ++i) {
    m.labels(i) = "h" + std::to_string(i);
    for (std::int32_t j = 1; j <= ncol; ++j)
      m.quant(i, j) = values[static_cast<std::size_t>((i - 1) * ncol + j - 1)];
  }
  std::string cached, fresh;
  {
    text_output out(cached);
    print::print_char_mat(m, char_format_type::PHYLIP, out);
  }
  {
    text_output out(fresh);
    out.put(" 4\t " + std::to_string(ncol) + "\n");
    for (std::int32_t i = 1; i <= 4; ++i) {
      print::print_label(m.labels(i), char_format_type::PHYLIP, 10, out);
      for (std::int32_t j = 1; j <= ncol; ++j) {
        out.put('\t');
        print::put_real(out, m.quant(i, j));
      }
      out.put('\n');
    }
  }
  EXPECT_EQ(cached, fresh);
}

TEST(karvo, group_sizes_fail_on_a_short_data_file_as_other_analyses_do) {
  const std::string cases[] = {
      "2 12\na ACGTACGTACGT\nb ACGTACGTACG",
      "2 4\na ACGT\n",
      "2 4\na ACGT\nb",
  };
  for (const std::string& data : cases) {
    std::string messages[2];
    int codes[2];
    for (int a = 0; a < 2; ++a) {
      text_input in(data + "\n", "standard input");
      std::string out, err;
      {
        text_output o(out), e(err);
        codes[a] = karvo::run({"karvo", a == 0 ? "-s" : "-c", "-", "-"},
                              karvo::streams{&in, o, e});
      }
      EXPECT_EQ(out, "");
      messages[a] = err;
    }
    EXPECT_EQ(codes[0], 1) << data;
    EXPECT_EQ(codes[0], codes[1]) << data;
    EXPECT_EQ(messages[0], messages[1]) << data;
  }
}
