#include <gtest/gtest.h>

#include "karvo/karvo.hpp"
#include "tests/test_util.hpp"

using karvo::assoc_conv_type;
using zurud::char_format_type;

namespace {

struct scanned {
  karvo::settings s;
  std::vector<std::string> left;
};

scanned scan(std::vector<std::string> args) {
  args.insert(args.begin(), "karvo");
  scanned r{karvo::scan_options(args), {}};
  r.left.assign(args.begin() + 1, args.end());
  return r;
}

// Runs the whole tool in process on in-memory standard input.
struct run_result {
  int rc;
  std::string out, err;
};
run_result run(std::vector<std::string> args, std::string stdin_text = "") {
  args.insert(args.begin(), "karvo");
  zurud::read::text_input in(stdin_text, "standard input");
  run_result r;
  {
    zurud::text_output out(r.out), err(r.err);
    r.rc = karvo::run(args, karvo::streams{&in, out, err});
  }
  return r;
}

}  // namespace

TEST(scan_options, leftmost_option_wins_and_files_remain) {
  struct {
    std::vector<std::string> args;
    assoc_conv_type analysis;
    std::int32_t minimum;
    std::vector<std::string> left;
  } cases[] = {
      {{"-c", "-e", "d", "a"}, assoc_conv_type::CONSENSUS, 2, {"d", "a"}},
      {{"-e", "-c", "d", "a"}, assoc_conv_type::ENTROPY, 2, {"d", "a"}},
      {{"d", "-v", "a", "-f"}, assoc_conv_type::MODUS, 2, {"d", "a"}},
      {{"-m", "3", "-m", "5", "d", "a"}, assoc_conv_type::GROUP_SIZE, 3,
       {"d", "a"}},
      // The argument after -m is examined first: -c is taken as an option,
      // and -m then reads the argument that now follows it.
      {{"-m", "-c", "4", "d", "a"}, assoc_conv_type::CONSENSUS, 4, {"d", "a"}},
      {{"-m", " 3x", "d", "a"}, assoc_conv_type::GROUP_SIZE, 3, {"d", "a"}},
      {{"-z", "-cg", "--", "-", "-1"}, assoc_conv_type::GROUP_SIZE, 2,
       {"-z", "-cg", "--", "-", "-1"}},
  };
  for (auto& c : cases) {
    const scanned r = scan(c.args);
    EXPECT_EQ(r.s.analysis, c.analysis);
    EXPECT_EQ(r.s.min_group_size, c.minimum);
    EXPECT_EQ(r.left, c.left);
  }
}

TEST(scan_options, layouts_and_states) {
  const scanned r = scan({"-p", "-o", "-E", "-P", "-g", "d", "a"});
  EXPECT_EQ(r.s.input_layout, char_format_type::PHYLIP);
  EXPECT_EQ(r.s.output_layout, char_format_type::NEXUS_ENCLOSED);
  EXPECT_EQ(r.s.valid_states, zurud::gapped_nuc_set);
  const scanned d = scan({"d", "a"});
  EXPECT_EQ(d.s.input_layout, char_format_type::EXTENDED_PHYLIP);
  EXPECT_EQ(d.s.output_layout, char_format_type::EXTENDED_PHYLIP);
  EXPECT_EQ(d.s.valid_states, zurud::nuc_set);
  EXPECT_EQ(scan({"-x", "-C", "d"}).s.output_layout,
            char_format_type::COMMENTED_PHYLIP);
  EXPECT_EQ(scan({"-N", "-X", "d"}).s.output_layout, char_format_type::NEXUS);
}

TEST(scan_options, bad_minimum_values) {
  EXPECT_THROW(scan({"-m", "0", "d", "a"}), zurud::range_error);
  EXPECT_THROW(scan({"-m", "-5", "d", "a"}), zurud::range_error);
  EXPECT_THROW(scan({"-m", "x", "d", "a"}), zurud::format_error);
  EXPECT_THROW(scan({"-m", "   ", "d", "a"}), zurud::end_of_file_error);
  EXPECT_THROW(scan({"d", "a", "-m"}), zurud::constraint_error);
}

TEST(run, both_files_from_one_standard_input) {
  const auto r = run({"-c", "-", "-"},
                     "3 4\n"
                     "p1 ACGT\n"
                     "p2 acgA\n"
                     "p3 tttt\n"
                     "p1 H\n"
                     "p2 H\n"
                     "p3 K\n");
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out, " 1\t 4\nH\tacgw\n");
  EXPECT_EQ(r.err, "WARNING: Removing host K (# associates below threshold)\n");
}

TEST(run, failures_leave_standard_output_empty) {
  struct {
    std::vector<std::string> args;
    std::string in;
    std::string err_start;
  } cases[] = {
      {{"-", "/nonexistent"}, "1 1\np a\n", "Invalid filename. cannot open /nonexistent"},
      {{"-", "-"}, "x 1\n", "Wrong file format. found \"x 1\""},
      {{"-", "-"}, "2 2\np aa\np cc\n", "karvo: constraint error: attempt to insert key already in map"},
      {{"-", "-"}, "1 1\np a\np H\n", "WARNING: Removing host H"},
      {{"-", "-"}, "2 2\np aa\n", "karvo: end-of-file error: "},
  };
  for (auto& c : cases) {
    const auto r = run(c.args, c.in);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.starts_with(c.err_start)) << r.err;
  }
}

TEST(run, diagnostic_names_file_and_line) {
  const auto r = run({"-", "-"}, "2 3\np aaa\nq c");
  EXPECT_EQ(r.err,
            "karvo: end-of-file error: input ended inside a matrix row: row 2 "
            "of 2 (standard input, line 3)\n");
}
