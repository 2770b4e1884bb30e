#include <gtest/gtest.h>
#include <algorithm>

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

TEST(scan_options, threads_are_read_as_the_minimum_is) {
  struct {
    std::vector<std::string> args;
    std::int32_t threads;
    std::vector<std::string> left;
  } cases[] = {
      {{"-t", "3", "d", "a"}, 3, {"d", "a"}},
      {{"d", "-t", " 7x", "a"}, 7, {"d", "a"}},
      {{"-t", "2", "-t", "5", "d", "a"}, 2, {"d", "a"}},
      {{"-t", "-c", "4", "d", "a"}, 4, {"d", "a"}},
      {{"d", "a"}, karvo::available_processors(), {"d", "a"}},
  };
  for (auto& c : cases) {
    const scanned r = scan(c.args);
    EXPECT_EQ(r.s.threads, c.threads);
    EXPECT_EQ(r.left, c.left);
  }
  EXPECT_GE(karvo::available_processors(), 1);
  EXPECT_THROW(scan({"-t", "0", "d", "a"}), zurud::range_error);
  EXPECT_THROW(scan({"-t", "-2", "d", "a"}), zurud::range_error);
  EXPECT_THROW(scan({"-t", "x", "d", "a"}), zurud::format_error);
  EXPECT_THROW(scan({"-t", "  ", "d", "a"}), zurud::end_of_file_error);
  EXPECT_THROW(scan({"d", "a", "-t"}), zurud::constraint_error);
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

// Inputs read without failing but not as written: one notice each, and the
// host matrix of the clean input.
TEST(run, notices_name_what_was_passed_over_and_change_no_output) {
  const std::string rows = "3 4\np1 ACGT\np2 ACGA\np3 TCGA\n";
  const std::string pairs = "p1 H\np2 H\np3 H\n";
  const std::string long_row = std::string(4800, 'M') +
                               std::string(1200, 'a') + std::string(4200, '?');
  struct {
    std::vector<std::string> options;
    std::string in;
    std::string notice;
  } cases[] = {
      {{"-c"}, "3 4\np1 ACGT x\np2 ACGA\np3 TCGA\n" + pairs,
       "standard input, line 2: text after a row's last site was passed over "
       "(\"x\")"},
      {{"-c"}, rows + "p1 H Apodemus flavicollis\np2 H\np3 H\n",
       "standard input, line 5: only the first two words of a line are read "
       "(associate, host): \"Apodemus flavicollis\" was passed over"},
      {{"-c", "-P"},
       "3 4\nHost_aaaaaa1 ACGT\np2 ACGA\np3 TCGA\n"
       "Host_aaaaaa1 Host_aaaaaaA\np2 Host_aaaaaaB\np3 Host_aaaaaaB\n",
       "hosts \"Host_aaaaaaA\", \"Host_aaaaaaB\" are all written with -P as "
       "\"Host_aaaaa\""},
      {{"-s", "-N"}, rows + "p1 ;;;\np2 ;;;\np3 H\n",
       "host \";;;\" is written with -N as an empty label"},
      {{"-c"}, "3 4\np1 MEFL\np2 MEFL\np3 PQIL\n" + pairs,
       "standard input: 100 % of the sites that are not missing are letters "
       "outside the nucleotide codes"},
      // Rows long enough to be sampled sixteen cells at a time: 10 of the
      // 18 cells that are not missing are foreign.
      {{"-c"},
       "3 24\np1 MEFLPQIKWRacgt?-?-..nnnn\np2 MEFLPQIKWRacgt?-?-..nnnn\n"
       "p3 MEFLPQIKWRacgu?-?-..nnnn\n" + pairs,
       "standard input: 55 % of the sites that are not missing are letters "
       "outside the nucleotide codes"},
      // Rows longer than the sample's byte counters hold.
      {{"-c"},
       "3 10200\np1 " + long_row + "\np2 " + long_row + "\np3 " + long_row +
           "\n" + pairs,
       "standard input: 80 % of the sites that are not missing are letters "
       "outside the nucleotide codes"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.options;
    args.push_back("-");
    args.push_back("-");
    args.insert(args.begin(), "-m");
    args.insert(args.begin() + 1, "1");
    const auto r = run(args, c.in);
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.err.find("karvo: warning: " + c.notice), std::string::npos)
        << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  // The host matrix is that of the clean input.
  EXPECT_EQ(run({"-c", "-", "-"}, "3 4\np1 ACGT x\np2 ACGA\np3 TCGA\n" + pairs).out,
            run({"-c", "-", "-"}, rows + pairs).out);
}

TEST(run, standard_error_that_refuses_writing_costs_the_notices_not_the_output) {
  std::string out_text;
  zurud::text_output out(out_text);
  zurud::text_output err(-1, "standard error", true, 64);  // every write fails
  zurud::read::text_input in("2 2\np aa\nq cc\np H\nq H\nq K\n");
  const int rc = karvo::run({"karvo", "-c", "-", "-"},
                            karvo::streams{&in, out, err});
  EXPECT_EQ(out_text, " 1\t 2\nH\tmm\n");
  EXPECT_EQ(rc, 1);  // the warning about K could not be written
}
