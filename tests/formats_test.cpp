#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "tests/test_util.hpp"
#include "tests/gzip_util.hpp"
#include "zurud/zurud-read.hpp"

using namespace zurud;
using namespace zurud::read;

namespace {

data_file_options sites(bool interleaved = false,
                        char_format_type layout =
                            char_format_type::EXTENDED_PHYLIP) {
  data_file_options o;
  o.layout = layout;
  o.interleaved = interleaved;
  o.cells.map = site_map;
  return o;
}

// Everything left in the input.
std::string all_text(text_input& in) {
  std::string s;
  for (std::string_view v; !(v = in.peek_buffer()).empty(); in.consume(v.size()))
    s += v;
  return s;
}

// Labels, then the rows, one string each.
std::string rows_of(const char_mat_type& m) {
  std::string s;
  for (std::int32_t i = 1; i <= m.ntax(); ++i)
    s += m.labels(i) + "=" + std::string(m.discr_row(i), m.nchar()) + ";";
  return s;
}

}  // namespace

// One matrix, p1 = acgt-cgt and p2 = aagtnnga, written as users hold it.
TEST(read_data_file, every_format_gives_the_same_rows) {
  const std::string want = "p1=acgt-cgt;p2=aagtnnga;";
  struct {
    const char* name;
    std::string text;
    data_file_options options;
  } cases[] = {
      {"sequential", "2 8\np1 ACGT-CGT\np2 AAGTNNGA\n", sites()},
      {"sequential over lines", "2 8\np1 ACGT\n-CGT\np2 AAGT NNGA\n", sites()},
      {"ten-character names",
       "2 8\np1        ACGT-CGT\np2        AAGTNNGA\n",
       sites(false, char_format_type::PHYLIP)},
      {"RNA", "2 8\np1 ACGU-CGU\np2 AAGUNNGA\n", sites()},
      {"FASTA", ">p1\nACGT-CGT\n>p2\nAAGTNNGA\n", sites()},
      {"FASTA wrapped, dots, CR LF, descriptions",
       ">p1 Polyplax serrata 3\r\nACG\r\nT.CGT\r\n>p2\tCOI\r\nAAGT\r\nNNGA",
       sites()},
      {"FASTA after blank lines and a byte order mark",
       "\xEF\xBB\xBF\n\n>p1\nacgt-cgt\n\n>p2\naagtnnga\n", sites()},
      {"interleaved", "2 8\np1 ACGT\np2 AAGT\n\n-CGT\nNNGA\n", sites(true)},
      {"interleaved without blank lines, blanks in sites",
       "2 8\np1 AC GT\np2 AA GT\n-C GT\nNN GA\n", sites(true)},
      {"interleaved ten-character names, CR LF",
       "2 8\r\np1        ACGT\r\np2        AAGT\r\n\r\n-CGT\r\nNNGA\r\n",
       sites(true, char_format_type::PHYLIP)},
  };
  for (const auto& c : cases) {
    for (const bool gz : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (gz ? ", gzipped" : ""));
      text_input in(gz ? gzipped(c.text) : c.text);
      const auto m = read_data_file(in, c.options);
      std::string got = rows_of(*m);
      if (c.options.layout == char_format_type::PHYLIP)
        for (std::size_t k; (k = got.find("        =")) != std::string::npos;)
          got.erase(k, 8);
      EXPECT_EQ(got, want);
    }
  }
}

TEST(read_data_file, group_sizes_need_labels_only) {
  for (const char* text : {">a\nACGT\n>b\nAC-T\n", "2 4\na ACGT\nb AC-T\n"}) {
    text_input in(text);
    data_file_options o;
    o.cells.store = false;
    const auto m = read_data_file(in, o);
    EXPECT_EQ(m->labels(2), "b");
    EXPECT_EQ(m->nchar(), 4);
  }
}

TEST(read_data_file, refusals_say_what_stood_where) {
  struct {
    const char* name;
    std::string text;
    data_file_options options;
    std::string message;
  } cases[] = {
      {"unaligned FASTA", ">p1\nACGT\n>p2 x\nACG\n", sites(),
       "sequence \"p2\" (line 3) has 3 sites, the first sequence \"p1\" 4"},
      {"longer FASTA record", ">p1\nACGT\n>p2\nACGTA\n", sites(),
       "sequence \"p2\" (line 3) has 5 sites, the first sequence \"p1\" 4"},
      {"residues before the first header", "ACGT\n>p1\nACGT\n", sites(),
       "characters before the first FASTA header: \"ACGT\""},
      {"header without a name", ">p1\nACGT\n>  \nACGT\n", sites(),
       "a FASTA header without a name"},
      {"Clustal", "CLUSTAL W (1.83)\n\np1 ACGT\n", sites(),
       "found \"CLUSTAL W (1.83)\" where the header should stand"},
      {"control bytes shown", "x\x1b[2J 2 3\n", sites(),
       "found \"x\\x1B[2J 2 3\" where the header should stand"},
      {"interleaved row past its length", "2 4\na ACG\nb ACG\nTT\nT\n",
       sites(true), "the line takes the row past its length (1 sites were left)"},
      {"interleaved block short of a row", "2 4\na AC\nb AC\nGT\n\nGT\n",
       sites(true), "no sites for the row on its line of the block"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    text_input in(c.text);
    EXPECT_THROW_MSG(read_data_file(in, c.options), format_error, c.message);
  }
}

TEST(read_data_file, endless_or_huge_input_fails_in_bounded_memory) {
  std::string many;
  for (int i = 0; i <= max_taxa; ++i) many += ">s" + std::to_string(i) + "\nA\n";
  text_input in(many);
  EXPECT_THROW_MSG(read_data_file(in, sites()), range_error,
                   "more than 5000 sequences");
  text_input wide(">w\n" + std::string(max_chars + 1, 'A'));
  EXPECT_THROW_MSG(read_data_file(wide, sites()), range_error,
                   "sequence \"w\" has more than 1048576 sites");
}

TEST(read_data_file, sequential_read_of_interleaved_file_suggests_i) {
  text_input in("3 8\na ACGT\nb ACGT\nc ACGT\n\nACGT\nACGT\nACGT\n");
  try {
    read_data_file(in, sites());
    ADD_FAILURE() << "read an interleaved file as sequential";
  } catch (const end_of_file_error& e) {
    EXPECT_NE(e.detail().find("if the file is interleaved, read it with -i"),
              std::string::npos)
        << e.detail();
  }
}

TEST(text_input, gzip_stream_that_ends_early_or_is_corrupt_fails) {
  const std::string gz = gzipped("3 4\na ACGT\n");
  text_input cut(gz.substr(0, gz.size() - 6));
  EXPECT_THROW(read_data_file(cut, sites()), end_of_file_error);
  std::string bad = gz;
  bad[12] = static_cast<char>(bad[12] ^ 0x55);
  text_input corrupt(bad);
  EXPECT_THROW(all_text(corrupt), error);
  text_input trailing(gz + "junk");
  EXPECT_THROW(all_text(trailing), format_error);
  text_input two(gz + gzipped("b AAAA\n"));
  EXPECT_EQ(all_text(two), "3 4\na ACGT\nb AAAA\n");
}
