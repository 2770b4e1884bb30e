// The host-row engine and the threaded writer against the plain reference:
// karvo's output for every thread count, with and without AVX2, equals the
// plain host matrix (fill_rows_plain) written by print_char_mat, on odd
// shapes and odd input texts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "karvo/karvo.hpp"
#include "tests/test_util.hpp"
#include "zurud/zurud-hostpara.hpp"
#include "zurud/zurud-print.hpp"
#include "zurud/zurud-read.hpp"

using namespace zurud;
using hostpara::analysis_type;
using hostpara::formula_type;

namespace {

const formula_type formulas[] = {
    formula_type::GROUP_SIZE, formula_type::CONSENSUS, formula_type::MODUS,
    formula_type::ENTROPY, formula_type::FREQUENCIES};

// The plain host matrix, written whole.
std::string plain_text(const char_mat_type& chars,
                       const hostpara::numeric_host_maps& hosts,
                       const analysis_type& a, char_format_type layout) {
  char_mat_type result(static_cast<std::int32_t>(hosts.size()),
                       a.columns(chars.nchar()), a.cell_type());
  result.comment = "mingrpsize= 2";
  hostpara::detail::fill_rows_plain(result, chars, hosts, a.valid_states(),
                                    a.formula() == formula_type::MODUS);
  std::string text;
  text_output out(text);
  print::print_char_mat(result, layout, out);
  out.flush();
  // The host matrix names the columns of numbers in NEXUS: 1_a 1_c ...
  const bool nexus = layout == char_format_type::NEXUS ||
                     layout == char_format_type::NEXUS_ENCLOSED;
  if (nexus && a.cell_type() == matrix_type::QUANT) {
    std::string names = "\tcharlabels";
    for (std::int32_t j = 1; j <= chars.nchar(); ++j) {
      if (a.formula() == formula_type::ENTROPY)
        names += " " + std::to_string(j) + "_entropy";
      else
        for (const char s : a.valid_states().members())
          names += s == '-' ? " '" + std::to_string(j) + "_-'"
                            : " " + std::to_string(j) + "_" + s;
    }
    text.insert(text.find("\tmatrix\n"), names + ";\n");
  }
  return text;
}

std::string streamed_text(const char_mat_type& chars,
                          const hostpara::numeric_host_maps& hosts,
                          const analysis_type& a, char_format_type layout,
                          std::int32_t threads) {
  std::string text;
  text_output out(text);
  zurud::hostpara::write_host_matrix({chars, hosts, a, "mingrpsize= 2", layout}, threads,
                           out);
  out.flush();
  return text;
}

// A file that removes itself.
class temp_file {
 public:
  explicit temp_file(const std::string& text) {
    const int fd = mkstemp(path_);
    if (fd >= 0) close(fd);
    std::ofstream(path_, std::ios::binary) << text;
  }
  ~temp_file() { std::remove(path_); }
  const char* path() const { return path_; }

 private:
  char path_[32] = "/tmp/zurud-engine-XXXXXX";
};

}  // namespace

TEST(write_host_matrix, every_thread_count_writes_the_plain_matrix) {
  struct {
    const char* name;
    std::int32_t ntax, nchar;
    std::vector<std::int32_t> groups;  // consecutive rows per host
  } cases[] = {
      {"one site", 7, 1, {2, 3, 2}},
      {"one associate", 1, 70, {1}},
      {"one host", 5, 300, {5}},
      {"sites across a kernel block and a piece", 9, 8193 + 4096, {4, 5}},
      {"host of 300 associates", 310, 97, {300, 10}},
      {"host of all 5000 associates", 5000, 33, {5000}},
  };
  std::mt19937 rng(4242);
  for (const auto& c : cases) {
    const char_mat_type chars = test_alignment(rng, c.ntax, c.nchar, 40);
    hostpara::numeric_host_maps hosts;
    std::int32_t row = 1;
    for (std::size_t h = 0; h < c.groups.size(); ++h)
      for (std::int32_t k = 0; k < c.groups[h]; ++k)
        hosts["host " + std::to_string(h)].insert(row++);
    for (const bool avx2 : {true, false}) {
      const vector_width width(avx2);
      for (const char_set& states : {nuc_set, gapped_nuc_set}) {
        for (const formula_type f : formulas) {
          const analysis_type a(f, states);
          // Every layout once, the default one more often.
          const char_format_type layout =
              static_cast<char_format_type>(static_cast<int>(f) % 5);
          const std::string want = plain_text(chars, hosts, a, layout);
          for (const std::int32_t threads : {1, 2, 3, 7})
            EXPECT_EQ(streamed_text(chars, hosts, a, layout, threads), want)
                << c.name << ", formula " << static_cast<int>(f) << ", "
                << states.size() << " states, " << threads << " threads";
        }
      }
    }
  }
}

TEST(write_host_matrix, a_failing_row_leaves_the_same_text_for_every_count) {
  // "u" has no ambiguity code: the third host's consensus fails.
  const analysis_type a(formula_type::CONSENSUS, char_set{"acgu"});
  char_mat_type chars(6, 20000, matrix_type::DISCR);
  for (std::int32_t i = 1; i <= 6; ++i)
    for (std::int32_t j = 1; j <= 20000; ++j) chars.discr(i, j) = 'a';
  chars.discr(5, 9000) = 'u';
  const hostpara::numeric_host_maps hosts{
      {"h1", {1, 2}}, {"h2", {3, 4}}, {"h3", {5, 6}}};
  std::string texts[3];
  const std::int32_t counts[] = {1, 2, 7};
  for (int t = 0; t < 3; ++t) {
    text_output out(texts[t]);
    EXPECT_THROW_MSG(
        zurud::hostpara::write_host_matrix(
            {chars, hosts, a, "", char_format_type::PHYLIP}, counts[t], out),
        constraint_error, key_not_in_map_msg);
    out.flush();
  }
  EXPECT_EQ(texts[1], texts[0]);
  EXPECT_EQ(texts[2], texts[0]);
  EXPECT_TRUE(texts[0].starts_with(" 3\t 20000\nh1        \t"));
}

TEST(analysis_type, shape_of_each_formula) {
  struct {
    formula_type formula;
    const char_set& states;
    matrix_type type;
    std::int32_t per_site, columns_of_10;
  } cases[] = {
      {formula_type::GROUP_SIZE, nuc_set, matrix_type::CNTCH, 1, 1},
      {formula_type::CONSENSUS, nuc_set, matrix_type::DISCR, 1, 10},
      {formula_type::MODUS, gapped_nuc_set, matrix_type::DISCR, 1, 10},
      {formula_type::ENTROPY, nuc_set, matrix_type::QUANT, 1, 10},
      {formula_type::FREQUENCIES, nuc_set, matrix_type::QUANT, 4, 40},
      {formula_type::FREQUENCIES, gapped_nuc_set, matrix_type::QUANT, 5, 50},
  };
  for (const auto& c : cases) {
    const analysis_type a(c.formula, c.states);
    EXPECT_EQ(a.cell_type(), c.type);
    EXPECT_EQ(a.columns_per_site(), c.per_site);
    EXPECT_EQ(a.columns(10), c.columns_of_10);
    EXPECT_EQ(a.has_row_comments(), c.formula != formula_type::GROUP_SIZE);
  }
  const analysis_type f(formula_type::FREQUENCIES, gapped_nuc_set);
  EXPECT_EQ(f.columns(209715), 1048575);
  EXPECT_THROW(f.columns(209716), range_error);
}

TEST(analysis_type, of_shape_gives_back_the_analysis_its_shape_came_from) {
  char_mat_type chars(3, 10, matrix_type::DISCR);
  for (const char_set& states : {nuc_set, gapped_nuc_set, char_set{"a"}}) {
    for (const formula_type f : formulas) {
      const analysis_type a(f, states);
      char_mat_type result(1, a.columns(10), a.cell_type());
      const analysis_type back = analysis_type::of_shape(
          result, chars, states, f == formula_type::MODUS);
      // With one state, frequencies are as wide as entropies, which win.
      const bool one_state = states.size() == 1;
      EXPECT_EQ(back.formula(), one_state && f == formula_type::FREQUENCIES
                                    ? formula_type::ENTROPY
                                    : f);
    }
  }
}

TEST(group_engine, refuses_rows_outside_the_matrix_and_wrong_cell_types) {
  char_mat_type chars(3, 4, matrix_type::DISCR);
  hostpara::group_engine engine(analysis_type(formula_type::ENTROPY, nuc_set),
                                chars);
  EXPECT_THROW_MSG(engine.select({1, 4}), constraint_error,
                   "index check failed");
  EXPECT_THROW_MSG(engine.select({0, 2}), constraint_error,
                   "index check failed");
  engine.select({1, 2});
  char cells[4];
  EXPECT_THROW(engine.compute(0, 4, cells), hostpara::matrix_error);
  char_mat_type reals(3, 4, matrix_type::QUANT);
  EXPECT_THROW(hostpara::group_engine(
                   analysis_type(formula_type::ENTROPY, nuc_set), reals),
               hostpara::matrix_error);
}

TEST(karvo, odd_input_texts_give_the_same_output_for_every_thread_count) {
  // CR LF line ends, blanks between cells, rows over many lines, upper case.
  std::mt19937 rng(77);
  const std::string bases = "ACGTacgt-?N";
  std::string data = "12 700\r\n", assoc;
  for (int i = 1; i <= 12; ++i) {
    data += "p" + std::to_string(i) + " ";
    for (int j = 1; j <= 700; ++j) {
      data += bases[rng() % bases.size()];
      if (rng() % 7 == 0) data += " ";
      if (rng() % 90 == 0) data += "\r\n";
    }
    data += "\r\n";
    assoc += "p" + std::to_string(i) + " H" + std::to_string(i % 3) + "\n";
  }
  for (const bool avx2 : {true, false}) {
    const vector_width width(avx2);
    for (const char* analysis : {"-s", "-c", "-v", "-e", "-f"}) {
      std::string outputs[4];
      const char* counts[] = {"1", "2", "3", "7"};
      for (int t = 0; t < 4; ++t) {
        read::text_input in(data + assoc, "standard input");
        std::string err;
        text_output out(outputs[t]), e(err);
        EXPECT_EQ(
            karvo::run({"karvo", "-t", counts[t], analysis, "-C", "-", "-"},
                       karvo::streams{&in, out, e}),
            0);
        out.flush();
      }
      EXPECT_FALSE(outputs[0].empty());
      for (int t = 1; t < 4; ++t)
        EXPECT_EQ(outputs[t], outputs[0]) << analysis << " -t " << counts[t];
    }
  }
}

TEST(text_input, read_ahead_reads_what_a_plain_read_does) {
  // Many buffers of rows of every length, peeks across the buffer ends.
  std::mt19937 rng(5);
  std::string text;
  while (text.size() < 3000000)
    text += std::string(rng() % 9000, 'a' + rng() % 26) + "\n";
  const temp_file file(text);
  read::text_input plain = read::text_input::open(file.path());
  read::text_input ahead = read::text_input::open(file.path());
  ahead.read_ahead();
  for (int step = 0; !plain.exhausted(); ++step) {
    ASSERT_FALSE(ahead.exhausted());
    ASSERT_EQ(ahead.position(), plain.position());
    if (step % 3 == 0) {
      const std::string_view a = ahead.peek(4096);
      ASSERT_EQ(a, plain.peek(4096));
      ahead.consume(a.size() / 2);
      plain.consume(a.size() / 2);
    } else {
      ASSERT_EQ(ahead.read_line(5000), plain.read_line(5000));
    }
    ASSERT_EQ(ahead.line(), plain.line()) << "step " << step;
  }
  EXPECT_TRUE(ahead.exhausted());
}

TEST(karvo, helper_threads_change_no_output_and_no_failure) {
  // Large enough for both helpers (read ahead, cells faulted in ahead):
  // 24 rows of 400000 sites, blanks and CR LF; then the same file cut short.
  std::mt19937 rng(11);
  std::string data = "24 400000\r\n", assoc;
  for (int i = 1; i <= 24; ++i) {
    std::string row(400000, 'a');
    for (char& c : row) c = "ACGTacgt-?"[rng() % 40 < 36 ? i % 4 : rng() % 10];
    data += "p" + std::to_string(i) + " " + row.substr(0, 7) + " " +
            row.substr(7) + "\r\n";
    assoc += "p" + std::to_string(i) + " H" + std::to_string(i % 3) + "\n";
  }
  const temp_file hosts(assoc);
  struct case_type {
    std::string name, text;
  };
  const case_type cases[] = {{"whole", data},
                             {"cut short", data.substr(0, data.size() - 9000)}};
  for (const case_type& c : cases) {
    const temp_file matrix(c.text);
    for (const char* analysis : {"-s", "-c", "-e"}) {
      std::string out[2], err[2];
      int rc[2];
      const char* counts[] = {"1", "2"};
      for (int t = 0; t < 2; ++t) {
        text_output o(out[t]), e(err[t]);
        rc[t] = karvo::run({"karvo", "-t", counts[t], analysis, matrix.path(),
                            hosts.path()},
                           karvo::streams{nullptr, o, e});
        o.flush();
        e.flush();
      }
      EXPECT_EQ(rc[1], rc[0]) << c.name << " " << analysis;
      EXPECT_EQ(out[1], out[0]) << c.name << " " << analysis;
      EXPECT_EQ(err[1], err[0]) << c.name << " " << analysis;
      EXPECT_EQ(rc[0], c.name == "whole" ? 0 : 1) << err[0];
    }
  }
}

TEST(group_folds, fold_row_by_row_what_the_engine_computes_from_the_matrix) {
  struct {
    const char* name;
    std::int32_t nchar;
    std::vector<std::int32_t> groups;  // consecutive rows per host
  } cases[] = {
      {"one site", 1, {2, 1}},
      {"a tail after whole vectors", 33, {3, 4}},
      {"sites across a piece", 8193 + 5, {2, 5}},
      {"hosts of 255 and 600 associates", 40, {255, 2, 600}},
  };
  // The cells of one stretch, or the failure: a set of states without a code
  // fails both ways alike.
  struct cells {
    std::string codes;
    std::vector<float> reals;
    bool failed = false;
    bool operator==(const cells&) const = default;
  };
  const auto cells_of = [](const analysis_type& a, std::size_t n,
                           const auto& compute) {
    cells c;
    c.codes.assign(a.cell_type() == matrix_type::DISCR ? n : 0, '\0');
    c.reals.assign(a.cell_type() == matrix_type::QUANT
                       ? n * static_cast<std::size_t>(a.columns_per_site())
                       : 0,
                   0.0f);
    try {
      compute(c);
    } catch (const constraint_error&) {
      c.failed = true;
    }
    return c;
  };
  std::mt19937 rng(99);
  for (const auto& c : cases) {
    std::int32_t ntax = 0;
    for (const std::int32_t g : c.groups) ntax += g;
    const char_mat_type chars = test_alignment(rng, ntax, c.nchar, 30);
    const auto n = static_cast<std::size_t>(c.nchar);
    for (const bool avx2 : {true, false}) {
      const vector_width width(avx2);
      // Seven states and three (a library caller's own): counters of one
      // state and site spread over several packed bytes, or leave some of
      // a byte unused.
      for (const char_set& states :
           {nuc_set, gapped_nuc_set, char_set("acgt-nr"), char_set("acg")})
        for (const formula_type f :
             {formula_type::CONSENSUS, formula_type::MODUS,
              formula_type::ENTROPY, formula_type::FREQUENCIES}) {
          const analysis_type a(f, states);
          ASSERT_TRUE(hostpara::group_folds::can_fold(a));
          // Hosts of unknown size count in bytes; those said to be small
          // in four or two bits, and when they get more rows than said,
          // the counts must still come out right. Modal hosts said to have
          // at most two keep only the states met and refuse a third row.
          for (const int said : {0, 1, 2, 3}) {
            std::vector<std::size_t> sizes;
            for (const std::int32_t g : c.groups)
              sizes.push_back(said == 0   ? std::size_t{1} << 20
                              : said == 1 ? std::size_t(g)
                              : said == 2 ? 1
                                          : 10);
            hostpara::group_folds folds(a, sizes, n);
            hostpara::group_engine engine(a, chars), from_folds(a, chars);
            std::int32_t row = 1;
            for (std::size_t h = 0; h < c.groups.size(); ++h) {
              const auto g = static_cast<std::size_t>(c.groups[h]);
              if (f == formula_type::MODUS && sizes[h] <= 2 && g > 2) {
                const char* three[] = {chars.discr_row(row),
                                       chars.discr_row(row + 1),
                                       chars.discr_row(row + 2)};
                EXPECT_THROW(folds.fold(h, three), constraint_error);
                folds.fold(h, {three, 2});
                EXPECT_THROW(folds.fold(h, three[2]), constraint_error);
                row += c.groups[h];
                continue;
              }
              sets::ordered_tax_nos group;
              // Rows one at a time, or (sizes said) several at a time, more
              // than a kernel takes among them, across the counters' limits.
              const std::size_t chunks[] = {2, 3, 9, 1, 8};
              for (std::size_t k = 0, i = 0; k < g; ++i) {
                std::vector<const char*> rows;
                while (rows.size() < (said == 0 ? 1 : chunks[i % 5]) &&
                       k < g) {
                  rows.push_back(chars.discr_row(row));
                  group.insert(row++);
                  ++k;
                }
                folds.fold(h, rows);
              }
              engine.select(group);
              const auto compute = [&](auto& e, auto&&... folded) {
                return cells_of(a, n, [&](cells& out) {
                  if (a.cell_type() == matrix_type::DISCR)
                    e.compute(folded..., 0, n, out.codes.data());
                  else
                    e.compute(folded..., 0, n, out.reals.data());
                });
              };
              const cells want = compute(engine);
              EXPECT_TRUE(compute(from_folds, folds, h) == want)
                  << c.name << ", formula " << static_cast<int>(f) << ", host "
                  << h << ", sizes said " << said;
              if (a.cell_type() == matrix_type::DISCR) {
                const cells got = cells_of(a, n, [&](cells& out) {
                  folds.compute(h, 0, n, out.codes.data());
                });
                EXPECT_TRUE(got == want) << c.name << " host " << h;
                // From a site inside a byte of states-met bits.
                if (n >= 33 && !want.failed) {
                  std::string part(n - 13, '\0');
                  folds.compute(h, 13, n - 13, part.data());
                  EXPECT_EQ(part, want.codes.substr(13)) << c.name;
                }
              }
            }
          }
        }
    }
  }
}

// What the folds take, by analysis and host size: the caller weighs it
// against the associate cells, and the kernels write all of it.
TEST(group_folds, take_the_memory_they_say) {
  struct {
    formula_type formula;
    const char_set* states;
    std::size_t size, bytes;  // associations of the host, bytes of 33 sites
  } cases[] = {
      {formula_type::CONSENSUS, &nuc_set, 2, 4 * 5},  // a bit a state and site
      {formula_type::CONSENSUS, &gapped_nuc_set, 600, 5 * 5},
      {formula_type::MODUS, &nuc_set, 2, 4 * 5},
      {formula_type::MODUS, &nuc_set, 3, 33},
      {formula_type::MODUS, &nuc_set, 4, 2 * 33},
      {formula_type::MODUS, &nuc_set, 15, 2 * 33},
      {formula_type::MODUS, &nuc_set, 16, 4 * 33},
      {formula_type::ENTROPY, &gapped_nuc_set, 2, 2 * 33},
      {formula_type::ENTROPY, &gapped_nuc_set, 15, 3 * 33},
      {formula_type::FREQUENCIES, &gapped_nuc_set, 300, 5 * 33},
  };
  for (const auto& c : cases) {
    const analysis_type a(c.formula, *c.states);
    const std::vector<std::size_t> sizes{c.size, c.size};
    EXPECT_EQ(hostpara::group_folds::bytes(a, sizes, 33), 2 * c.bytes)
        << c.size;
    hostpara::group_folds folds(a, sizes, 33);
    EXPECT_EQ(folds.memory().size(), 2 * c.bytes) << c.size;
    const auto k = static_cast<std::size_t>(c.states->size());
    EXPECT_EQ(hostpara::group_folds::bytes(a, 2, 33),
              2 * k * (c.formula == formula_type::CONSENSUS ? 5 : 33));
  }
}

// Folded rows are finished only by the analysis they were folded for, into
// the cells it makes; anything else is refused, not computed.
TEST(group_folds, refuse_what_they_were_not_folded_for) {
  std::mt19937 rng(5);
  const char_mat_type chars = test_alignment(rng, 3, 40, 10);
  const analysis_type entropy(formula_type::ENTROPY, nuc_set),
      consensus(formula_type::CONSENSUS, nuc_set),
      modal(formula_type::MODUS, nuc_set);
  hostpara::group_folds folded_entropy(entropy, 2, 40),
      folded_codes(consensus, 2, 40);
  folded_entropy.fold(0, chars.discr_row(1));
  folded_codes.fold(0, chars.discr_row(1));
  hostpara::group_engine modal_engine(modal, chars),
      entropy_engine(entropy, chars);
  std::string codes(40, '\0');
  std::vector<float> reals(40);
  EXPECT_THROW(folded_entropy.compute(0, 0, 40, codes.data()),
               hostpara::matrix_error);
  EXPECT_THROW(modal_engine.compute(folded_codes, 0, 0, 40, codes.data()),
               hostpara::matrix_error);
  EXPECT_THROW(entropy_engine.compute(folded_entropy, 0, 0, 40, codes.data()),
               hostpara::matrix_error);
  EXPECT_THROW(entropy_engine.compute(folded_entropy, 2, 0, 40, reals.data()),
               constraint_error);
  EXPECT_THROW(entropy_engine.compute(folded_entropy, 0, 30, 11, reals.data()),
               constraint_error);
  EXPECT_THROW(folded_codes.fold(2, chars.discr_row(1)), constraint_error);
  EXPECT_THROW(hostpara::group_folds(
                   analysis_type(formula_type::GROUP_SIZE, nuc_set), 1, 40),
               constraint_error);
  entropy_engine.compute(folded_entropy, 0, 0, 40, reals.data());  // fits
}

TEST(karvo, folding_while_reading_says_what_the_plain_order_says) {
  // Each case runs with the association file read first and the rows folded
  // as they come, and in the plain order; output, messages, notices and
  // status must agree.
  const std::string good =
      "4 6\np1 acgtac extra\np2 ACGTTT\np3 a-gtac\np4 uuuuuu\n";
  const std::string assoc = "p1 H1\np2 H1\np3 H2\np4 H2\np4 H3 x\n";
  // Hosts of 21 and 10 associates (counted in bytes and in four bits), one
  // associate on both, and runs of neighbours on one host longer than the
  // eight rows folded at once (the last row on its own), over 70 sites of
  // mixed case and gaps.
  std::string many = "30 70\n", hosted;
  std::mt19937 rng(3);
  for (int i = 1; i <= 30; ++i) {
    many += "q" + std::to_string(i) + " ";
    for (int j = 0; j < 70; ++j) many += "acgtACGTU-?n"[rng() % 12];
    many += "\n";
    hosted += "q" + std::to_string(i) +
              (i <= 20 || i == 30 ? " Hbig\n" : " Hsmall\n");
  }
  hosted += "q20 Hsmall\n";
  // Past the ranges of the library's matrix: 5001 associates, 1048577
  // sites, as PHYLIP and as FASTA.
  std::string rows_5001 = "5001 3\n", rows_fasta, pairs_5001;
  for (int i = 1; i <= 5001; ++i) {
    const std::string label = "r" + std::to_string(i);
    const std::string cells = {"acgt-"[i % 5], "acgt"[i * 7 % 4], "ag"[i % 2]};
    rows_5001 += label + " " + cells + "\n";
    rows_fasta += ">" + label + "\n" + cells + "\n";
    pairs_5001 += label + " H" + std::to_string(i % 7) + "\n";
  }
  std::string wide = "2 1048577\n", wide_pairs = "w1 H\nw2 H\n";
  for (const char* l : {"w1 ", "w2 "}) {
    wide += l;
    for (int j = 0; j < 1048577; ++j) wide += "acgt"[(j * (l[1] - '0')) % 4];
    wide += "\n";
  }
  struct case_type {
    const char* name;
    std::vector<std::string> options;
    std::string data, assoc;
    bool assoc_on_standard_input = false;
  } cases[] = {
      {"5001 associates", {"-v"}, rows_5001, pairs_5001},
      {"5001 associates, frequencies with gaps", {"-f", "-g"}, rows_5001,
       pairs_5001},
      {"5001 associates as FASTA", {"-e"}, rows_fasta, pairs_5001},
      {"1048577 sites", {"-c"}, wide, wide_pairs},
      {"consensus", {"-c"}, good, assoc},
      {"consensus, one thread", {"-c", "-t", "1"}, good, assoc},
      {"modal, gaps valid", {"-v", "-g", "-N"}, good, assoc},
      {"a gap with a base has no code", {"-c", "-g"}, good, assoc},
      {"padded PHYLIP names", {"-c", "-p"},
       "2 3\np1        acg\np2        cct\n", "p1 H\np2 H\n"},
      {"unknown associate", {"-c"}, good, assoc + "p9 H1\n"},
      {"label met twice", {"-v"}, "3 2\np1 ac\np1 ag\np2 tt\n",
       "p1 H\np2 H\n"},
      {"bad data and bad associations", {"-c"}, "4 6\np1 acgtac\n",
       "p1 H1\np2"},
      {"bad associations only", {"-v"}, good, "p1 H1\np2"},
      {"no host left", {"-c", "-m", "9"}, good, assoc},
      {"an interleaved file is stored", {"-c", "-i"},
       "2 4\np1 ac\np2 gt\n\nac\ngt\n", "p1 H\np2 H\n"},
      {"FASTA is stored", {"-v"}, ">p1\nacgt\n>p2\nacct\n", "p1 H\np2 H\n"},
      {"entropy", {"-e", "-m", "1"}, good, assoc},
      {"frequencies in NEXUS", {"-f", "-g", "-N"}, good, assoc},
      {"associations on standard input", {"-v"}, good, assoc, true},
      {"modal, hosts large and small", {"-v", "-g"}, many, hosted},
      {"frequencies, hosts large and small", {"-f"}, many, hosted},
      {"entropy, hosts large and small", {"-e", "-t", "3"}, many, hosted},
      {"bad associations on standard input", {"-c"}, "4 6\np1 acgtac\n",
       "p1 H1\np2", true},
      // Tables whose pairs only the labels settle: a header row (its host
      // also a real host), names with blanks for the labels' "_" (and one
      // label present in both spellings, where the very name wins),
      // associates the data file lacks, an incidence matrix.
      {"header row", {"-c", "-m", "1"}, good,
       "parasite\tH1\np1\tH1\np2\tH1\np3\tH2\n"},
      {"blank for underscore", {"-v"},
       "4 3\na_b acg\nc_d ccc\nc d ttt\ne_f ggg\n",
       "a b,H\nc d,H\ne f,H\n"},
      {"unknown associates passed over", {"-c", "-u"}, good,
       assoc + "p9 H1\np8 H2\n"},
      {"a pair twice whose first is a header", {"-c"},
       "3 4\np1 acgt\np3 acga\np4 acgt\n", "p2 H\np2 H\np3 H\n"},
      {"incidence matrix", {"-f"}, good,
       ",H1,H2\np1,1,0\np2,1,0\np3,0,1\np4,1,1\n"},
  };
  for (const case_type& c : cases) {
    const temp_file data(c.data), hosts(c.assoc);
    std::string out[2], err[2];
    int rc[2];
    for (const bool fold : {true, false}) {
      std::vector<std::string> args{"karvo"};
      args.insert(args.end(), c.options.begin(), c.options.end());
      args.push_back(data.path());
      args.push_back(c.assoc_on_standard_input ? "-" : hosts.path());
      text_output o(out[fold]), e(err[fold]);
      read::text_input standard(c.assoc, "standard input");
      karvo::streams io{c.assoc_on_standard_input ? &standard : nullptr, o, e};
      io.fold = fold;
      rc[fold] = karvo::run(args, io);
      o.flush();
      e.flush();
    }
    EXPECT_EQ(rc[1], rc[0]) << c.name;
    EXPECT_EQ(out[1], out[0]) << c.name;
    EXPECT_EQ(err[1], err[0]) << c.name;
  }
}
