#include <gtest/gtest.h>

#include "tests/test_util.hpp"
#include "zurud/zurud-print.hpp"
#include "zurud/zurud-read.hpp"

using namespace zurud;
using zurud::read::text_input;

namespace {

sequence_vecs parse_rest(text_input& in) {
  sequence_vecs v;
  read::read_fasta(in, v);
  return v;
}

sequence_vecs parse(const std::string& text) {
  text_input in(text);
  return parse_rest(in);
}

}  // namespace

TEST(read_fasta, records) {
  struct {
    std::string text;
    sequence_vecs want;
  } cases[] = {
      {">Seq1\nACGT\nAC.T\n>Seq2\nacg-\n",
       {{"Seq1", "", "ACGTAC-T"}, {"Seq2", "", "acg-"}}},
      {"> Mus  \nA C\tG\r\n", {{"Mus", "", "ACG"}}},
      {">a\n\nAC\n\nGT\n>b\n", {{"a", "", "ACGT"}, {"b", "", ""}}},
      {"ACGT\n>x\nNN??\n", {{"x", "", "ACGTNN??"}}},
      {"acgt", {{"", "", "acgt"}}},
      {"", {{"", "", ""}}},
      {">\nrymkswhbvdn\n", {{"", "", "rymkswhbvdn"}}},
      {">a\r\nAC\r\nGT\r\n", {{"a", "", "ACGT"}}},
      // A raw TAB or escape in a label would break the columns written.
      {"> a\tb\x1b[2J \nAC\n", {{"a_b_[2J", "", "AC"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(parse(c.text), c.want) << c.text;
}

TEST(read_fasta, invalid_residues_keep_earlier_sequences) {
  for (const char* bad : {"x", "*", "1", "\xe9"}) {
    text_input in(std::string(">ok\nACGT\n>bad\nAC") + bad + "T\n>after\nA\n");
    sequence_vecs v;
    EXPECT_THROW(read::read_fasta(in, v), read::invalid_character_error) << bad;
    EXPECT_EQ(v.size(), 1);
    EXPECT_EQ(v(1).label, "ok");
  }
}

TEST(read_fasta, long_lines_are_read_in_pieces) {
  const std::string residues(25000, 'a');
  sequence_vecs v = parse(">long\n" + residues + "\n>next\nc\n");
  ASSERT_EQ(v.size(), 2);
  EXPECT_EQ(v(1).residues, residues);
  // A piece that happens to start with ">" is not a header but a residue
  // (it was read as one, at column 10001 only).
  text_input split(">a\n" + std::string(10000, 'c') + ">b\ngg\n");
  sequence_vecs v2;
  EXPECT_THROW(read::read_fasta(split, v2), read::invalid_character_error);
  // A header is read whole, up to 10000 characters of label.
  const std::string label(10000, 'h');
  EXPECT_EQ(parse(">" + label + "\r\nAC\n>b\nGT\n"),
            (sequence_vecs{{label, "", "AC"}, {"b", "", "GT"}}));
}

TEST(read_fasta, limits_fail_where_they_are_passed) {
  std::string many;
  for (int i = 0; i <= 5000; ++i) many += ">s\na\n";
  const std::string wide(max_chars, 'a');
  struct {
    std::string text;
    std::int64_t line;
    std::int32_t kept;
  } cases[] = {
      {many, 10001, 5000},
      {">ok\nA\n>long\n" + wide + "\nc\ng\n", 5, 1},
      {">ok\nA\n>bad\nAC\nA*T\nGG\n", 5, 1},
      // The end of a long header was taken as residues.
      {">ok\nA\n>" + std::string(10001, 'C') + "\nACGT\n", 3, 1},
      {">" + std::string(25000, 'C') + "\nACGT\n", 1, 0},
  };
  for (const auto& c : cases) {
    text_input in(c.text);
    sequence_vecs v;
    try {
      read::read_fasta(in, v);
      ADD_FAILURE() << "no failure at line " << c.line;
    } catch (const error& e) {
      EXPECT_EQ(e.line(), c.line) << e.what();
    }
    EXPECT_EQ(v.size(), c.kept);
  }
}

TEST(skip_to_fasta_header, refuses_what_is_not_a_header) {
  for (const char* bad : {"", " \n\n", "ACGT\n>a\nAC\n", ";comment\n>a\n"}) {
    text_input in(bad);
    EXPECT_THROW(read::skip_to_fasta_header(in), format_error) << bad;
  }
  text_input in("\xef\xbb\xbf\n \n>a\nAC\n");
  read::skip_to_fasta_header(in);
  EXPECT_EQ(parse_rest(in), (sequence_vecs{{"a", "", "AC"}}));
}

TEST(print_sequences, fasta_to_matrix) {
  const sequence_vecs v = parse(">seq one\nACGT-\n>s2\nACGTA\n");
  std::string extended, commented, nexus;
  {
    text_output a(extended), b(commented), c(nexus);
    print::print_char_mat(v, char_format_type::EXTENDED_PHYLIP, a);
    print::print_char_mat(v, char_format_type::COMMENTED_PHYLIP, b);
    print::print_char_mat(v, char_format_type::NEXUS, c);
  }
  EXPECT_EQ(extended, " 2\t 5\nseq_one\tACGT-\ns2     \tACGTA\n");
  EXPECT_EQ(commented, extended);
  EXPECT_TRUE(nexus.starts_with(
      "#NEXUS\n\nbegin data;\n\tdimensions ntax= 2 nchar= 5;\n"
      "\tformat datatype=nucleotide gap=- missing=?;\n\tmatrix\n"
      "[      \t        10]\n[      \t         .]\n"
      "seq_one\tACGT-\ns2     \tACGTA\n\t;\nend;\n"));
  const sequence_vecs ragged = parse(">a\nACGT\n>b\nACG\n");
  std::string none;
  text_output out(none);
  EXPECT_THROW(print::print_char_mat(ragged, char_format_type::NEXUS, out),
               print::unaligned_error);
  out.flush();
  EXPECT_EQ(none, "");
}
