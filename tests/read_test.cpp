#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>
#include <unistd.h>

#include "tests/test_util.hpp"
#include "zurud/detail/read-scan.hpp"
#include "zurud/zurud-read.hpp"

using namespace zurud;
using namespace zurud::read;

TEST(read_char, passes_over_line_ends_and_page_breaks) {
  text_input in("a\n\n\fb\r\n\fc");
  EXPECT_EQ(in.read_char(), 'a');
  EXPECT_EQ(in.read_char(), 'b');
  EXPECT_EQ(in.read_char(), '\r');  // a carriage return is ordinary
  EXPECT_EQ(in.read_char(), 'c');
  EXPECT_THROW(in.read_char(), end_of_file_error);
}

TEST(read_char, form_feed_not_after_line_end_is_a_character) {
  text_input in("a\fb");
  EXPECT_EQ(in.read_char(), 'a');
  EXPECT_EQ(in.read_char(), '\f');
}

TEST(end_of_input, true_only_with_at_most_one_line_end_left) {
  struct {
    const char* text;
    bool end;
  } cases[] = {{"", true},        {"\n", true},     {"\n\f", true},
               {"\n\n", false},   {" ", false},     {"\r\n", false},
               {"\n\f\n", false}, {"x", false},     {"\f", false}};
  for (const auto& c : cases) {
    text_input in(c.text);
    EXPECT_EQ(in.end_of_input(), c.end) << '"' << c.text << '"';
  }
}

TEST(end_of_line, sees_line_feed_or_exhausted_input) {
  text_input in("a\nb");
  EXPECT_FALSE(in.end_of_line());
  in.read_char();
  EXPECT_TRUE(in.end_of_line());
  in.read_char();
  EXPECT_TRUE(in.end_of_line());
}

TEST(skip_line, last_line_without_feed_counts_as_ended) {
  text_input in("ab\n\fcd");
  in.skip_line();
  EXPECT_EQ(in.read_char(), 'c');
  in.skip_line();
  EXPECT_TRUE(in.exhausted());
  EXPECT_THROW(in.skip_line(), end_of_file_error);
}

TEST(read_integer, literals) {
  struct {
    const char* text;
    std::int32_t value;
    char next;  // first character left unread ('\0': none)
  } cases[] = {
      {"42", 42, 0},           {"  \t\n\f-7x", -7, 'x'},
      {"+3", 3, 0},            {"1_000", 1000, 0},
      {"16#FF#", 255, 0},      {"2#1010#", 10, 0},
      {"16#ff#e1", 4080, 0},   {"1E3", 1000, 0},
      {"1e+2", 100, 0},        {"2147483647", 2147483647, 0},
      {"-2147483648", -2147483647 - 1, 0},
      {"0E99", 0, 0},          {"3.5", 3, '.'},
      {"3a", 3, 'a'},          {"12\t", 12, '\t'},
      {"7\r\n", 7, '\r'},
  };
  for (const auto& c : cases) {
    text_input in(c.text);
    EXPECT_EQ(in.read_integer(), c.value) << c.text;
    if (c.next != 0)
      EXPECT_EQ(in.read_char(), c.next) << c.text;
    else
      EXPECT_TRUE(in.exhausted()) << c.text;
  }
}

TEST(read_integer, refusals) {
  const char* format_errors[] = {"x",         "-",       "1__2",   "1_",
                                 "16#FF",     "17#1#",   "2#2#",   "1E-2",
                                 "2147483648", "-2147483649", "99999999999",
                                 "1E10",      "\r\n5",   "_1"};
  for (const char* t : format_errors) {
    text_input in(t);
    EXPECT_THROW(in.read_integer(), format_error) << t;
  }
  for (const char* t : {"", "   ", " \n\t\n"}) {
    text_input in(t);
    EXPECT_THROW(in.read_integer(), end_of_file_error) << '"' << t << '"';
  }
}

TEST(read_integer, consumes_longest_prefix_before_refusing) {
  text_input in("1__2 next");
  EXPECT_THROW(in.read_integer(), format_error);
  EXPECT_EQ(in.read_char(), '_');  // "1_" was taken, the second "_" was not
}

TEST(read_real, literals) {
  struct {
    const char* text;
    double value;
  } cases[] = {{"1", 1.0},          {"1.5", 1.5},       {"1.5E-3", 1.5e-3},
               {"-0.25", -0.25},    {".5", 0.5},        {"2.", 2.0},
               {"1_0.2_5", 10.25},  {"16#F.8#", 15.5},  {"3.40282347E+38", 3.40282347e38},
               {"1E-400", 0.0},     {"0.1", 0.1},       {"+7e1", 70.0}};
  for (const auto& c : cases) {
    text_input in(c.text);
    EXPECT_EQ(in.read_real(), c.value) << c.text;
  }
  for (const char* t : {"?", "1E400", "-", ".", "1.5E", "e5"}) {
    text_input in(t);
    EXPECT_THROW(in.read_real(), format_error) << t;
  }
}

TEST(read_line, bounded_buffer_leaves_rest_of_long_line) {
  text_input in("abcdef\nxy\n\fz");
  EXPECT_EQ(in.read_line(4), "abcd");
  EXPECT_EQ(in.read_line(4), "ef");
  EXPECT_EQ(in.read_line(2), "xy");  // exactly full: the line end goes too
  EXPECT_EQ(in.read_line(4), "z");
  EXPECT_THROW(in.read_line(4), end_of_file_error);
}

TEST(read_black, cells_across_blanks_and_lines) {
  text_input in("A C\tG\r\n\fT-?x \n");
  char cells[6];
  in.read_black(cells, 6);
  EXPECT_EQ(std::string(cells, 6), "ACGT-?");
  char more[3];
  EXPECT_THROW(in.read_black(more, 3), end_of_file_error);  // only x left
}

TEST(line, counts_line_feeds_before_the_next_character) {
  text_input in("a\nb\nc");
  EXPECT_EQ(in.line(), 1);
  in.read_char();
  in.read_char();
  EXPECT_EQ(in.line(), 2);
  in.skip_line();
  EXPECT_EQ(in.line(), 3);
}

TEST(text_input, file_reading_matches_string_reading_across_refills) {
  // Longer than the file buffer, so rows straddle refills.
  std::string text;
  for (int i = 0; i < 40000; ++i) text += "row" + std::to_string(i) + "\tACGT acgt\n";
  char path[] = "/tmp/zurud-read-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  { std::ofstream(path) << text; }
  text_input file = text_input::open(path);
  text_input mem(text);
  for (int i = 0; i < 40000; ++i) {
    ASSERT_EQ(get_word(file, whitespace), get_word(mem, whitespace));
    char a[8], b[8];
    file.read_black(a, 8);
    mem.read_black(b, 8);
    ASSERT_EQ(std::string(a, 8), std::string(b, 8));
    file.skip_line();
    mem.skip_line();
  }
  EXPECT_EQ(file.line(), 40001);
  EXPECT_TRUE(file.end_of_input());
  close(fd);
  std::remove(path);
}

TEST(text_input, peek_shows_the_next_characters_across_refills) {
  // A peek that needs a refill moves the unread rest; the view must follow.
  std::string text;
  for (int i = 0; text.size() < 600000; ++i) text += std::to_string(i) + ' ';
  char path[] = "/tmp/zurud-read-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  { std::ofstream(path) << text; }
  text_input file = text_input::open(path);
  for (std::size_t i = 0; i < text.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(7, text.size() - i);
    ASSERT_EQ(file.peek(7), text.substr(i, n)) << "at " << i;
    file.consume(3);
  }
  EXPECT_TRUE(file.peek(1).empty());
  close(fd);
  std::remove(path);
}

// The first line end tells whether lone carriage returns end lines (old Mac
// files) or are whitespace, as inside DOS and Unix files.
TEST(text_input, lone_carriage_returns_end_lines_when_the_first_line_does) {
  struct {
    const char* text;
    std::vector<std::string> lines;
  } cases[] = {
      {"a\rb\r\rc\r", {"a", "b", "", "c"}},
      {"a\rb\r\nc", {"a", "b\r", "c"}},     // a DOS line end there too
      {"\r\r5", {"", "", "5"}},
      {"a\r\nb\rc\n", {"a\r", "b\rc"}},    // DOS: a lone CR is whitespace
      {"a\r\r\nb\rc", {"a\r\r", "b\rc"}},  // CR CR LF: DOS written twice
      {"a\nb\rc", {"a", "b\rc"}},
      {"abc", {"abc"}}};
  for (const auto& c : cases) {
    text_input in(c.text);
    std::vector<std::string> lines;
    while (!in.exhausted()) lines.push_back(in.read_line(std::string::npos));
    EXPECT_EQ(lines, c.lines) << c.text;
  }
}

// Carriage returns are mended as their buffer arrives: one that ends a
// buffer is a line end, and a line feed that starts the next buffer belongs
// to it. DOS line ends after a first Mac one: every buffer boundary that
// falls between CR and LF must still give one line end.
TEST(text_input, carriage_return_line_ends_across_refills) {
  std::string text = "first\r";
  for (int i = 0; i < 300000; ++i) text += "x\r\n";
  char path[] = "/tmp/zurud-read-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  { std::ofstream(path) << text; }
  text_input file = text_input::open(path);
  EXPECT_EQ(file.read_line(std::string::npos), "first");
  int lines = 0;
  while (!file.exhausted()) {
    const std::string line = file.read_line(std::string::npos);
    ASSERT_TRUE(line == "x\r" || line == "x") << "line " << lines + 2;
    ++lines;
  }
  EXPECT_EQ(lines, 300000);
  EXPECT_EQ(file.line(), 300002);
  close(fd);
  std::remove(path);
}

TEST(text_input, open_refuses_missing_files_and_folders) {
  EXPECT_THROW(text_input::open("/nonexistent/file"), open_error);
  EXPECT_THROW(text_input::open("/tmp"), open_error);
}

TEST(get_word, stops_before_line_end_and_continues_on_next_line) {
  text_input in("  ab cd\nef\n");
  EXPECT_EQ(get_word(in, whitespace), "ab");
  EXPECT_EQ(in.read_char(), 'c');
  EXPECT_EQ(get_word(in, whitespace), "d");
  EXPECT_TRUE(in.end_of_line());
  EXPECT_EQ(get_word(in, whitespace), "ef");
  EXPECT_THROW(get_word(in, whitespace), end_of_file_error);
}

TEST(get_word, word_at_end_of_input_is_returned) {
  text_input in("\n\n  last");
  EXPECT_EQ(get_word(in, whitespace), "last");
}

TEST(words, black_helpers) {
  text_input in(" \t x");
  EXPECT_EQ(get_black(in, whitespace), 'x');
  EXPECT_EQ(black_only("a c-g", whitespace), "ac-g");
  std::string t = "z";
  append_black(t, "a\tb", whitespace);
  EXPECT_EQ(t, "zab");
  text_input w("one two");
  skip_word(w, whitespace);
  EXPECT_EQ(get_word(w, whitespace), "two");
}

TEST(read_label, layouts) {
  struct {
    const char* text;
    label_format_type layout;
    const char* label;
    char next;
  } cases[] = {
      {"Homo      acgt", label_format_type::PHYLIP, "Homo      ", 'a'},
      {"Mus muscul\tacg", label_format_type::PHYLIP, "Mus muscul", '\t'},
      {"Hom\no  sapi", label_format_type::PHYLIP, "Homo  sapi", 0},
      {"  Mus_musculus\tacg", label_format_type::EXTENDED_PHYLIP,
       "Mus_musculus", 'a'},
      {"Apodemus\t[3]\tacg", label_format_type::COMMENTED_PHYLIP, "Apodemus",
       'a'},
      {"\tHomo sapiens \tacg", label_format_type::TAB_SEPARATED,
       "Homo sapiens ", 'a'},
  };
  for (const auto& c : cases) {
    text_input in(c.text);
    EXPECT_EQ(read_label(in, c.layout), c.label) << c.text;
    if (c.next != 0) {
      EXPECT_EQ(in.read_char(), c.next) << c.text;
    }
  }
}

TEST(read_header, counts_then_rest_of_line) {
  text_input in(" 3\t 10\t[mingrpsize= 2]\nnext");
  EXPECT_EQ(read_header(in), (header_type{3, 10}));
  EXPECT_EQ(in.read_char(), 'n');
  text_input two_lines("3\n10\nx");
  EXPECT_EQ(read_header(two_lines), (header_type{3, 10}));
}

enum class failure { RANGE, FORMAT, END };

TEST(read_header, refusals) {
  using enum failure;
  struct {
    const char* text;
    failure kind;
  } cases[] = {{"0 10\n", RANGE},       {"5001 10\n", RANGE},
               {"3 0\n", RANGE},        {"3 1048577\n", RANGE},
               {"a 3\n", FORMAT},       {"3\n", END},
               {"", END},               {"3 10", END}};
  for (const auto& c : cases) {
    text_input in(c.text);
    switch (c.kind) {
      case failure::RANGE:
        EXPECT_THROW(read_header(in), range_error) << c.text;
        break;
      case failure::FORMAT:
        EXPECT_THROW(read_header(in), format_error) << c.text;
        break;
      case failure::END:
        EXPECT_THROW(read_header(in), end_of_file_error) << c.text;
        break;
    }
  }
}

TEST(read_dist_header, layouts) {
  text_input tab("\tA\tB\tC\tD\n");
  EXPECT_EQ(read_dist_header(tab, dist_format_type::TAB), 4);
  text_input no_tabs("A B C\n");
  EXPECT_THROW(read_dist_header(no_tabs, dist_format_type::TAB), range_error);
  text_input phylip(" 5 trailing\nrow");
  EXPECT_EQ(read_dist_header(phylip, dist_format_type::PHYLIP), 5);
  EXPECT_EQ(phylip.read_char(), 'r');
  // Column labels beyond the first 10000 characters still count.
  std::string line;
  for (int i = 0; i < 600; ++i) line += "\tlabel_number_" + std::to_string(i);
  text_input wide(line + "\nrow");
  EXPECT_EQ(read_dist_header(wide, dist_format_type::TAB), 600);
  EXPECT_EQ(wide.read_char(), 'r');
}

TEST(read_char_mat, discrete_rows_in_each_layout) {
  struct {
    const char* text;
    char_format_type layout;
  } cases[] = {
      {"Apodemus  ACG\nMus muscul\ta?t\n", char_format_type::PHYLIP},
      {"Apodemus\tA C\nG junk\nMus\ta?t", char_format_type::EXTENDED_PHYLIP},
      {"Apodemus\t[3]\tACG\nMus\t[2]\ta?t\n", char_format_type::COMMENTED_PHYLIP},
      {"Apodemus ACG\r\nMus a?t\r\n", char_format_type::NEXUS},
  };
  for (const auto& c : cases) {
    text_input in(c.text);
    char_mat_type m(2, 3, matrix_type::DISCR);
    read_char_mat(in, c.layout, m);
    EXPECT_EQ(std::string(m.discr_row(1), 3), "ACG") << c.text;
    EXPECT_EQ(std::string(m.discr_row(2), 3), "a?t") << c.text;
    EXPECT_TRUE(m.labels(1).starts_with("Apodemus")) << c.text;
  }
}

TEST(read_char_mat, quantitative_and_count_cells) {
  text_input q("a 1.5 -2\nb 0 1E3\n");
  char_mat_type qm(2, 2, matrix_type::QUANT);
  read_char_mat(q, char_format_type::EXTENDED_PHYLIP, qm);
  EXPECT_EQ(qm.quant(1, 2), -2.0f);
  EXPECT_EQ(qm.quant(2, 2), 1000.0f);

  text_input bad_q("a ? 1\n");
  char_mat_type q1(1, 2, matrix_type::QUANT);
  EXPECT_THROW(read_char_mat(bad_q, char_format_type::EXTENDED_PHYLIP, q1),
               format_error);
  text_input big_q("a 1E39\n");
  char_mat_type q2(1, 1, matrix_type::QUANT);
  EXPECT_THROW(read_char_mat(big_q, char_format_type::EXTENDED_PHYLIP, q2),
               range_error);

  text_input c("a 3 0\n");
  char_mat_type cm(1, 2, matrix_type::CNTCH);
  read_char_mat(c, char_format_type::EXTENDED_PHYLIP, cm);
  EXPECT_EQ(cm.count(1, 1), 3);
  text_input neg("a -1 0\n");
  EXPECT_THROW(read_char_mat(neg, char_format_type::EXTENDED_PHYLIP, cm),
               range_error);
}

TEST(read_char_mat, early_end_names_the_row) {
  text_input in("a ACG\nb AC");
  char_mat_type m(3, 3, matrix_type::DISCR);
  try {
    read_char_mat(in, char_format_type::EXTENDED_PHYLIP, m);
    FAIL();
  } catch (const end_of_file_error& e) {
    EXPECT_EQ(e.detail(), "row 2 of 3");
  }
}

TEST(is_aligned, lengths) {
  sequence_vecs same{{"a", "", "ACGT"}, {"b", "", "ACGA"}, {"c", "", "----"}};
  EXPECT_TRUE(is_aligned(same));
  sequence_vecs ragged{{"a", "", "ACGT"}, {"b", "", "ACGA"}, {"c", "", "ACG"}};
  EXPECT_FALSE(is_aligned(ragged));
  EXPECT_THROW(is_aligned(sequence_vecs{}), range_error);
  EXPECT_THROW(is_aligned(sequence_vecs{{"a", "", ""}}), range_error);
}

namespace {

// Takes each row as read_data_rows hands it over, keeping a digest.
class counting_sink final : public zurud::read::row_sink {
 public:
  bool accept(std::int32_t, std::int32_t nchar) override {
    row_.resize(static_cast<std::size_t>(nchar));
    return true;
  }
  char* row_memory() override { return row_.data(); }
  void take(std::int32_t row, const std::string&, char* cells) override {
    rows = row;
    last.assign(cells, row_.size());
  }
  std::int32_t rows = 0;
  std::string last;

 private:
  std::string row_;
};

}  // namespace

TEST(read_data_rows, phylip_and_fasta_pass_the_matrix_ranges_row_by_row) {
  std::string phylip = "6001 3\n", fasta;
  for (int i = 1; i <= 6001; ++i) {
    phylip += "t" + std::to_string(i) + " ACu\n";
    fasta += ">t" + std::to_string(i) + " description\nAC\nu\n";
  }
  for (const std::string& text : {phylip, fasta}) {
    zurud::read::text_input in(text);
    zurud::read::data_file_options options;
    options.cells.map = zurud::site_map;
    counting_sink sink;
    const auto r = zurud::read::read_data_rows(in, options, sink);
    EXPECT_EQ(r.labels.size(), 6001u);
    EXPECT_EQ(r.labels.back(), "t6001");
    EXPECT_EQ(r.nchar, 3);
    EXPECT_EQ(sink.rows, 6001);
    EXPECT_EQ(sink.last, "act");
  }
}

namespace {

// Keeps every row read_data_rows hands over.
class keeping_sink final : public zurud::read::row_sink {
 public:
  bool accept(std::int32_t, std::int32_t nchar) override {
    nchar_ = static_cast<std::size_t>(nchar);
    return true;
  }
  char* row_memory() override {
    row_.assign(nchar_, '\0');
    return row_.data();
  }
  void take(std::int32_t, const std::string&, char* cells) override {
    rows.emplace_back(cells, nchar_);
  }
  std::vector<std::string> rows;

 private:
  std::size_t nchar_ = 0;
  std::string row_;
};

}  // namespace

// FASTA writers wrap records at a width (60 most often); the rows read must
// not depend on it, nor on the line ends, nor on the vector loops.
TEST(read_data_rows, fasta_rows_read_alike_at_every_wrapping) {
  std::mt19937 rng(60);
  const std::string_view cells = "ACGTUacgtu-?nN.RYry";
  std::vector<std::string> records(7);
  for (std::string& r : records)
    for (int j = 0; j < 1000; ++j) r += cells[rng() % cells.size()];
  const auto fasta = [&](std::size_t width, std::string_view end) {
    std::string text;
    for (std::size_t i = 0; i < records.size(); ++i) {
      text += ">r" + std::to_string(i) + " a description\n";
      for (std::size_t at = 0; at < records[i].size(); at += width)
        text += records[i].substr(at, width) + std::string(end);
    }
    return text;
  };
  const struct {
    std::size_t width;
    const char* end;
  } wrappings[] = {{60, "\n"},  {59, "\n"}, {61, "\n"}, {63, "\n"},
                   {64, "\n"},  {70, "\n"}, {80, "\n"}, {60, "\r\n"},
                   {60, " \n"}, {1, "\n"},  {31, "\n"}};
  for (const bool avx2 : {true, false}) {
    const vector_width width(avx2);
    zurud::read::data_file_options options;
    options.cells.map = zurud::site_map;
    zurud::read::text_input one_line_in(fasta(1000, "\n"));
    keeping_sink expected;
    zurud::read::read_data_rows(one_line_in, options, expected);
    ASSERT_EQ(expected.rows.size(), records.size());
    for (const auto& w : wrappings) {
      zurud::read::text_input in(fasta(w.width, w.end));
      keeping_sink sink;
      const auto r = zurud::read::read_data_rows(in, options, sink);
      EXPECT_EQ(r.nchar, 1000) << w.width;
      EXPECT_EQ(sink.rows, expected.rows) << w.width;
    }
  }
}

TEST(read_data_rows, refusals_name_the_row) {
  const struct {
    std::string text;
    const char* what;
  } cases[] = {
      {"3 2\nt1 ac\nt2 ag\n", "input ended"},      // fewer rows than declared
      {">a\nacg\n>b\nac\n", "has 2 sites, the first sequence \"a\" 3"},
      {"2 268435457\n", "character count 268435457 outside 1..268435456"},
      {"2 4\nt1 acgt\n\n", "row 2 of 2"},
  };
  for (const auto& c : cases) {
    zurud::read::text_input in(c.text);
    counting_sink sink;
    try {
      zurud::read::read_data_rows(in, {}, sink);
      ADD_FAILURE() << c.text;
    } catch (const zurud::error& e) {
      EXPECT_NE(zurud::failure_text(e).find(c.what), std::string::npos)
          << zurud::failure_text(e);
    }
  }
}

// Standard characters as other programs write them: a set of states is one
// missing cell wherever it stands in the row (at the start, across the
// lines of a row, as its last cell), what follows the row stays unread, and
// a broken set fails saying how.
TEST(read_cells_with_sets, a_set_is_one_cell_anywhere_in_a_row) {
  struct {
    const char* text;
    std::size_t n;
    const char* cells;  // or the start of the failure's message
    bool fails;
    const char* rest;  // the next line, unread
  } cases[] = {
      {"01 2 ab\n", 6, "", true, ""},  // the input ends before the 6th
      {"012AB\nnext\n", 5, "012ab", false, "next"},
      {"{01}1(1,2)0\nnext\n", 4, "?1?0", false, "next"},
      {"0{0 1}\n(12)1\nnext\n", 4, "0??1", false, "next"},
      {"01\n\f 2{01}\nnext\n", 4, "012?", false, "next"},
      {"0{01\n}1\nnext\n", 3, "a set of states opened with \"{\" is not "
                              "closed on its line",
       true, ""},
      {"0{01\n", 2, "a set of states opened with \"{\" is not closed", true,
       ""},
      {"01}1\n", 4, "\"}\" without the mark that opens its set", true, ""},
      {"0{0(1}\n", 2, "\"(\" inside a set of states", true, ""},
  };
  const char_mapping lower("AB", "ab");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    text_input in(c.text, "d.phy");
    std::string cells(c.n, '\0');
    try {
      zurud::read::detail::read_cells_with_sets(in, cells.data(), c.n, lower);
      EXPECT_FALSE(c.fails);
      EXPECT_EQ(cells, c.cells);
      in.skip_members(whitespace);
      EXPECT_EQ(std::string(in.peek_line()), c.rest);
    } catch (const format_error& e) {
      EXPECT_TRUE(c.fails);
      EXPECT_EQ(std::string(e.what()).rfind(c.cells, 0), 0u) << e.what();
    } catch (const end_of_file_error&) {
      EXPECT_TRUE(c.fails);
    }
  }
}
