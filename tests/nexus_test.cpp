#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/test_util.hpp"
#include "zurud/zurud-print.hpp"
#include "tests/gzip_util.hpp"
#include "zurud/zurud-read.hpp"

using namespace zurud;
using zurud::read::text_input;

namespace {

struct rows_type {
  std::vector<std::string> labels;
  std::vector<std::string> cells;
  friend bool operator==(const rows_type&, const rows_type&) = default;
};

void PrintTo(const rows_type& r, std::ostream* os) {
  for (std::size_t i = 0; i < r.labels.size(); ++i)
    *os << "\n  [" << r.labels[i] << "] " << r.cells[i];
}

rows_type rows_of(const char_mat_type& m) {
  rows_type r;
  for (std::int32_t i = 1; i <= m.ntax(); ++i) {
    r.labels.push_back(m.labels(i));
    r.cells.emplace_back(m.discr_row(i), static_cast<std::size_t>(m.nchar()));
  }
  return r;
}

rows_type parse(text_input& in, const read::cell_options& cells = {}) {
  return rows_of(*read::read_nexus_matrix(in, cells));
}

rows_type parse(const std::string& text) {
  text_input in(text);
  return parse(in);
}

const std::string head =
    "#NEXUS\n"
    "begin data; dimensions ntax=2 nchar=4; format datatype=dna";

}  // namespace

TEST(read_nexus_matrix, reads_the_files_writers_make) {
  struct {
    const char* name;
    std::string text;
    rows_type want;
  } cases[] = {
      {"plain",
       head + ";\nmatrix\nMus ACGT\nRat AC-?\n;\nend;\n",
       {{"Mus", "Rat"}, {"ACGT", "AC-?"}}},
      {"keywords in any case, = with blanks, ENDBLOCK",
       "#nexus\nBEGIN Data;\n  DIMENSIONS NTAX = 2 NCHAR =4 ;\n"
       "  FORMAT DataType = Nucleotide Missing=N GAP = * ;\n"
       "  MATRIX\n    Mus  AC*N\n    Rat  ACGT\n  ;\nENDBLOCK;\n",
       {{"Mus", "Rat"}, {"AC-?", "ACGT"}}},
      {"rows over several lines, blanks inside",
       head + ";\nmatrix\nMus\nAC\n G T\nRat A C\n\nGT;\nend;",
       {{"Mus", "Rat"}, {"ACGT", "ACGT"}}},
      {"CR LF line ends",
       "#NEXUS\r\nbegin data;\r\ndimensions ntax=2 nchar=4;\r\n"
       "format interleave;\r\nmatrix\r\nMus AC\r\nRat GG\r\n\r\n"
       "Mus GT\r\nRat TT\r\n;\r\nend;\r\n",
       {{"Mus", "Rat"}, {"ACGT", "GGTT"}}},
      {"lone CR line ends in an interleaved matrix",
       "#NEXUS\rbegin data; dimensions ntax=2 nchar=4;\r"
       "format interleave=yes;\rmatrix\rMus AC\rRat GG\rMus GT\rRat TT\r;\r"
       "end;\r",
       {{"Mus", "Rat"}, {"ACGT", "GGTT"}}},
      {"interleaved blocks in another order, rulers as comments",
       head + " interleave;\nmatrix\n[ 1 ]\nMus AC\nRat GG\n\nRat TT\n"
              "Mus GT\n;\nend;\n",
       {{"Mus", "Rat"}, {"ACGT", "GGTT"}}},
      {"nested comments inside cells, between rows and tokens",
       "#NEXUS [written [by] hand]\nbegin[x] data;dimensions ntax=2 "
       "nchar[;]=4;format datatype=dna;matrix\n[row 1]Mus A[c]C[[n]]GT [x]\n"
       "Rat[;] ACGT[ 2]\n;end;",
       {{"Mus", "Rat"}, {"ACGT", "ACGT"}}},
      {"quoted labels: '' is a quote, blanks and ; stay, underscores stay",
       head + ";\nmatrix\n'O''Brien x' ACGT\n'a_b;[c]' ACGT\n;\nend;\n",
       {{"O'Brien x", "a_b;[c]"}, {"ACGT", "ACGT"}}},
      {"match characters stand for the first row's state",
       head + " matchchar=.;\nmatrix\nMus AC-?\nRat .G..\n;\nend;\n",
       {{"Mus", "Rat"}, {"AC-?", "AG-?"}}},
      {"interleaved match characters",
       head + " interleave matchchar=.;\nmatrix\nMus AC\nRat ..\nMus GT\n"
              "Rat A.\n;\nend;\n",
       {{"Mus", "Rat"}, {"ACGT", "ACAT"}}},
      {"polymorphic and uncertain sets are one missing cell",
       head + ";\nmatrix\nMus A{CG}(A T)T\nRat ACGT\n;\nend;\n",
       {{"Mus", "Rat"}, {"A??T", "ACGT"}}},
      {"TAXA block: labels, rows placed by label",
       "#NEXUS\nbegin taxa; dimensions ntax=2; taxlabels Mus 'Rat x';\nend;\n"
       "begin characters; dimensions nchar=4;\nformat datatype=standard "
       "respectcase symbols=\"0 1\" missing=? gap=-;\nmatrix\n'Rat x' 0101\n"
       "Mus 1111;\nend;\n",
       {{"Mus", "Rat x"}, {"1111", "0101"}}},
      {"a quoted blank and an unquoted _ are one character: later blocks",
       head + " interleave;\nmatrix\n'Mus x' AC\nRat GG\n\nMus_x GT\n"
              "Rat TT\n;\nend;\n",
       {{"Mus x", "Rat"}, {"ACGT", "GGTT"}}},
      {"a quoted blank and an unquoted _ are one character: TAXLABELS",
       "#NEXUS\nbegin taxa; dimensions ntax=2; taxlabels Mus_x 'Rat y';\n"
       "end;\nbegin data; dimensions nchar=4;\nmatrix\n'Mus x' ACGT\n"
       "Rat_y TTTT\n;\nend;\n",
       {{"Mus_x", "Rat y"}, {"ACGT", "TTTT"}}},
      {"labels that differ only in _ and blank stay apart where both exist",
       head + " interleave;\nmatrix\na_b AC\n'a b' GG\n'a b' GT\na_b TT\n;"
              "\nend;\n",
       {{"a_b", "a b"}, {"ACTT", "GGGT"}}},
      {"other blocks are passed over whole",
       "#NEXUS\nbegin trees; tree t = ('end;',[end;]b);\nend;\n"
       "begin assumptions; options deftype=unord; end;\n" +
           head.substr(7) + ";\nmatrix\nMus ACGT\nRat ACGT\n;\nend;\n",
       {{"Mus", "Rat"}, {"ACGT", "ACGT"}}},
      {"gzip",
       gzipped(head + ";\nmatrix\nMus ACGT\nRat TTTT\n;\nend;\n"),
       {{"Mus", "Rat"}, {"ACGT", "TTTT"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(parse(c.text), c.want) << c.name;
}

TEST(read_nexus_matrix, refusals_say_what_was_expected_and_found) {
  enum kind { FORMAT, END_OF_FILE, RANGE };
  struct {
    std::string text;
    kind type;
    const char* message;
  } cases[] = {
      {"#NEXU\n", FORMAT,
       "expected #NEXUS at the start of a NEXUS file, found \"#NEXU\""},
      {"#NEXUS\nbegin trees;\nend;\n", END_OF_FILE,
       "input ended before a DATA or CHARACTERS block"},
      {"#NEXUS\ndata;", FORMAT, "expected BEGIN of a block, found \"data\""},
      {"#NEXUS\nbegin data; dimensions ntax=5001 nchar=1;", RANGE,
       "taxon count 5001 outside 1..5000"},
      {"#NEXUS\nbegin data; dimensions ntax=1 nchar=99999999999;", RANGE,
       "character count 99999999999 outside 1..1048576"},
      {"#NEXUS\nbegin data; dimensions ntax=x;", FORMAT,
       "expected a number after NTAX=, found \"x\""},
      {head + " datatype=continuous;", FORMAT,
       "DATATYPE=CONTINUOUS: only discrete characters are read"},
      {head + " transpose;", FORMAT,
       "FORMAT transpose is not supported: the matrix must have one labelled "
       "row per taxon, one character per cell"},
      {head + " missing=ab;", FORMAT,
       "expected one character after MISSING=, found \"ab\""},
      {head + " foo;", FORMAT, "unknown FORMAT subcommand \"foo\""},
      {"#NEXUS\nbegin taxa; dimensions ntax=3; end;\nbegin characters; "
       "dimensions ntax=2 nchar=1; matrix",
       FORMAT, "DIMENSIONS NTAX=2 differs from the TAXA block's NTAX=3"},
      {"#NEXUS\nbegin taxa; dimensions ntax=3; taxlabels a b; end;", FORMAT,
       "TAXLABELS gives 2 labels for NTAX=3"},
      {head + ";\nmatrix\nMus ACGT\n;", FORMAT,
       "the matrix ends after 1 of NTAX=2 rows"},
      {head + ";\nmatrix\nMus ACGT\nRat ACG;", FORMAT,
       "row \"Rat\" (2 of 2) ends at ';' after 3 of NCHAR=4 characters"},
      {head + ";\nmatrix\nMus ACGTA\nRat ACGT\n;", FORMAT,
       "row \"Mus\" (1 of 2) has more than NCHAR=4 characters: \"A\" follows"},
      {head + ";\nmatrix\nMus ACGT\nRat ACGT\nCow ACGT\n;", FORMAT,
       "expected ';' after the 2 rows of the matrix (NTAX=2), found "
       "\"Cow ACGT\""},
      {head + ";\nmatrix\nMus ACGT\nMus ACGT\n;", FORMAT,
       "label \"Mus\" repeats in the matrix"},
      {head + " interleave;\nmatrix\nMus AC\nRat AC\nCow GT\n;", FORMAT,
       "label \"Cow\" makes more rows than NTAX=2"},
      {head + " interleave;\nmatrix\nMus AC\nRat AC\nMus GT\nCow GT\n;", FORMAT,
       "unknown label \"Cow\" in a later interleaved block"},
      {head + " interleave;\nmatrix\nMus AC\nMus GT\n;", FORMAT,
       "label \"Mus\" repeats after only 1 of NTAX=2 rows"},
      {"#NEXUS\nbegin taxa; dimensions ntax=2; taxlabels 'a b_c' 'a_b c';"
       "\nend;\nbegin data; dimensions nchar=2;\nmatrix\na_b_c AC\n;",
       FORMAT, "label \"a_b_c\" in the MATRIX is not one of TAXLABELS"},
      {head + " interleave;\nmatrix\nMus ACG\nRat AC\nMus GT\nRat GT\n;",
       FORMAT,
       "row \"Mus\" (1 of 2) gets more than NCHAR=4 characters in block 2: "
       "\"T\" is left"},
      {head + " interleave;\nmatrix\nMus AC\nRat ACG\nMus GT\n;", FORMAT,
       "row \"Rat\" (2 of 2) has 3 of NCHAR=4 characters at the end of the "
       "matrix"},
      {head + " matchchar=.;\nmatrix\nMus AC.T\n", FORMAT,
       "MATCHCHAR \".\" in the first row \"Mus\""},
      {head + ";\nmatrix\nMus AC]T\n", FORMAT,
       "unexpected \"]\" among the characters of row \"Mus\" (1 of 2)"},
      {head + ";\nmatrix\nMus AC'T\n", FORMAT,
       "quote among the characters of row \"Mus\" (1 of 2)"},
      {head + ";\nmatrix\n'' ACGT\n", FORMAT, "empty label in the MATRIX"},
      {head + ";\nmatrix\n'Mus ACGT\nRat ACGT;\nend;\n", FORMAT,
       "line end inside the quoted label \"Mus ACGT\" (a quote missing?)"},
      {head + ";\nmatrix\nMus AC[GT\n", END_OF_FILE,
       "input ended inside a comment opened on line 4"},
      {head + ";\nmatrix\nMus ACGT\nRat AC", END_OF_FILE,
       "input ended inside row \"Rat\" (2 of 2) after 2 of NCHAR=4 "
       "characters"},
      {head + ";\nmatrix\nMus ACGT\nRat ACGT\n;\n", END_OF_FILE,
       "input ended where END; of the data block was expected"},
      {"#NEXUS\nbegin sets;\nbegin data;", FORMAT,
       "BEGIN inside the sets block (its END; is missing)"},
  };
  for (const auto& c : cases) {
    text_input in(c.text);
    try {
      read::read_nexus_matrix(in);
      ADD_FAILURE() << "no failure for " << c.text;
    } catch (const range_error& e) {
      EXPECT_EQ(c.type, RANGE) << c.text;
      EXPECT_EQ(std::string(e.what()), c.message);
    } catch (const format_error& e) {
      EXPECT_EQ(c.type, FORMAT) << c.text;
      EXPECT_EQ(std::string(e.what()), c.message);
    } catch (const end_of_file_error& e) {
      EXPECT_EQ(c.type, END_OF_FILE) << c.text;
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

// karvo's -N and -E output: matrix comment, ruler, row comments, the
// command block after the data block.
TEST(read_nexus_matrix, reads_back_the_nexus_layouts_written) {
  char_mat_type m(3, 12, matrix_type::DISCR);
  const std::string cells[] = {"acgtacgtacgt", "a?t-acgtnnnn", "tttttttttttt"};
  const std::string labels[] = {"Apodemus", "Mus_musculus", "O'Brien"};
  m.comment = "mingrpsize= 2";
  for (std::int32_t i = 1; i <= 3; ++i) {
    m.labels(i) = labels[i - 1];
    m.comments(i) = integer_image(i + 1);
    cells[i - 1].copy(m.discr_row(i), 12);
  }
  for (auto layout :
       {char_format_type::NEXUS, char_format_type::NEXUS_ENCLOSED}) {
    std::string text;
    {
      text_output out(text);
      print::print_char_mat(m, layout, out);
    }
    text_input in(text);
    const rows_type back = parse(in);
    const std::string third =
        layout == char_format_type::NEXUS ? "O_Brien" : "O`Brien";
    EXPECT_EQ(back, (rows_type{{"Apodemus", "Mus_musculus", third},
                               {cells[0], cells[1], cells[2]}}))
        << text;
    // The command block after the data block is left unread.
    EXPECT_EQ(in.read_line(100), "");
    EXPECT_EQ(in.read_line(100), "begin paup;");
  }
}

TEST(read_nexus_matrix, maps_or_skims_cells_and_reads_files) {
  const std::string text = head +
                           " missing=N matchchar=.;\nmatrix\n"
                           "Mus AcgU\nRat .N.-\n;\nend;\n";
  text_input mapped(text);
  EXPECT_EQ(parse(mapped, {site_map, true}),
            (rows_type{{"Mus", "Rat"}, {"acgt", "a?g-"}}));
  text_input skimmed(text);
  const auto m = read::read_nexus_matrix(skimmed, {site_map, false});
  EXPECT_EQ(m->labels, (tax_lab_type{"Mus", "Rat"}));
  EXPECT_TRUE(skimmed.exhausted());

  // A file read by pieces, with rows longer than the input's buffer.
  const std::string row(300000, 'a');
  char path[] = "/tmp/nexus_test_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string file =
      "#NEXUS\nbegin data; dimensions ntax=2 nchar=300000"
      "; format interleave;\nmatrix\nMus " +
      row.substr(0, 150000) + "\nRat " + row + "\nMus " +
      row.substr(0, 150000) + "\n;\nend;\n";
  ASSERT_EQ(write(fd, file.data(), file.size()),
            static_cast<ssize_t>(file.size()));
  close(fd);
  text_input in = text_input::open(path);
  EXPECT_EQ(parse(in), (rows_type{{"Mus", "Rat"}, {row, row}}));
  std::remove(path);
}

TEST(read_nexus_matrix, says_its_datatype_and_symbols_and_can_store_by_them) {
  struct {
    const char* format;
    const char* datatype;
    const char* symbols;
    const char* cells;  // of "Mus UuTt" read by site_map, or by the datatype
  } cases[] = {
      {"datatype=RNA", "RNA", "", "tttt"},
      {"datatype=protein", "protein", "", "uutt"},
      {"datatype=standard symbols=\"0 1 2\"", "standard", "0 1 2", "uutt"},
      {"symbols=01", "", "01", "tttt"},
      {"datatype=mixed(dna:1-2,protein:3-4)", "mixed", "", "tttt"},
  };
  for (const auto& c : cases) {
    const std::string text = std::string("#NEXUS\nbegin data; dimensions ") +
                             "ntax=1 nchar=4; format " + c.format +
                             ";\nmatrix\nMus UuTt\n;\nend;\n";
    text_input in(text);
    read::nexus_format_type declared;
    read::cell_options cells{site_map, true, true};
    const auto m = read::read_nexus_matrix(in, cells, &declared);
    EXPECT_EQ(declared.datatype, c.datatype) << c.format;
    EXPECT_EQ(declared.symbols, c.symbols) << c.format;
    EXPECT_EQ(std::string(m->discr_row(1), 4), c.cells) << c.format;
    // read_data_file tells the caller the same.
    text_input again(text);
    read::data_file_options options;
    options.cells = cells;
    read::data_notes notes;
    read::read_data_file(again, options, nullptr, &notes);
    EXPECT_EQ(notes.declared.datatype, c.datatype) << c.format;
  }
}

TEST(read_nexus_matrix, long_rows_find_every_stop_on_each_vector_path) {
  // Symbols and comments at every offset around the 16- and 32-byte blocks.
  for (bool avx2 : {true, false}) {
    const bool before = zurud::detail::use_avx2(avx2);
    for (std::size_t at = 0; at < 100; ++at) {
      std::string first(200, 'a'), second(200, 'c'), want = second;
      second[at] = '.';
      want[at] = 'a';
      second.insert(at + 1, "[x]");
      first[199 - at / 2] = '*';
      std::string want_first(200, 'a');
      want_first[199 - at / 2] = '-';
      const std::string text =
          "#NEXUS\nbegin data; dimensions ntax=2 nchar=200; format gap=* "
          "matchchar=.;\nmatrix\nMus " +
          first + "\nRat " + second + "\n;\nend;\n";
      EXPECT_EQ(parse(text), (rows_type{{"Mus", "Rat"}, {want_first, want}}))
          << at << (avx2 ? " avx2" : " sse2");
    }
    zurud::detail::use_avx2(before);
  }
}
