// Summaries of a site beyond the plain rules: the consensus threshold and
// the minimum of associates with a state, against the plain reference on
// odd shapes, and worked cases checked by hand.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/engine_util.hpp"
#include "tests/test_util.hpp"
#include "zurud/zurud-hostpara.hpp"

using namespace zurud;
using hostpara::analysis_type;
using hostpara::formula_type;
using hostpara::fraction_type;

namespace {

// Columns of few states in even shares (ties at every threshold), of one
// state, and of every symbol, the states drawn from `symbols`.
char_mat_type columns_of(std::mt19937& rng, std::int32_t ntax,
                         std::int32_t nchar, const std::string& symbols) {
  char_mat_type m(ntax, nchar, matrix_type::DISCR);
  for (std::int32_t j = 1; j <= nchar; ++j) {
    const unsigned kind = rng() % 4;
    const char a = symbols[rng() % symbols.size()];
    const char b = symbols[rng() % symbols.size()];
    for (std::int32_t i = 1; i <= ntax; ++i)
      m.discr(i, j) = kind == 0   ? symbols[rng() % symbols.size()]
                      : kind == 1 ? a
                      : kind == 2 ? (i % 2 == 0 ? a : b)
                                  : (rng() % 3 == 0 ? b : a);
  }
  for (std::int32_t i = 1; i <= ntax; ++i)
    m.labels(i) = "a" + std::to_string(i);
  return m;
}

// Host h's row of the plain matrix, or that it failed (the plain reference
// fails for the whole matrix: then every host is taken to fail).
row_cells plain_row(const char_mat_type& plain, bool failed, std::int32_t i) {
  row_cells c;
  c.failed = failed;
  if (failed) return c;
  if (plain.char_type() == matrix_type::DISCR)
    c.codes.assign(plain.discr_row(i), static_cast<std::size_t>(plain.nchar()));
  else
    c.reals.assign(plain.quant_row(i), plain.quant_row(i) + plain.nchar());
  return c;
}

}  // namespace

TEST(site_rule, threshold_and_minimum_compute_what_the_plain_reference_does) {
  struct {
    const char* name;
    std::optional<alphabet_type> alphabet;  // none: nucleotides, any states
    char_set states;
    bool gaps;
    std::string symbols;
  } alphabets[] = {
      {"nucleotides", std::nullopt, nuc_set, false, "acgt-?n"},
      {"nucleotides, gaps", std::nullopt, gapped_nuc_set, true, "acgt--?"},
      {"protein",
       alphabet_type::protein(),
       {},
       false,
       "acdefghiklmnpqrstvwy-?"},
      {"binary, gaps", alphabet_type::standard("01"), {}, true, "01-?"},
  };
  struct {
    const char* name;
    std::int32_t nchar;
    std::vector<std::int32_t> groups;  // consecutive rows per host
  } shapes[] = {
      {"one associate", 40, {1, 2}},
      {"three associates: 2 of 3 at a boundary", 70, {3, 3, 4}},
      {"a tail after whole vectors", 4096 + 33, {6, 7}},
      {"host of 300 associates", 97, {300, 5}},
  };
  const fraction_type shares[] = {{1, 1},  {1, 2},   {2, 3},   {3, 4},
                                  {3, 10}, {1, 100}, {99, 100}};
  const std::uint32_t minima[] = {1, 2, 3, 5};
  std::mt19937 rng(29);
  for (const auto& shape : shapes) {
    std::int32_t ntax = 0;
    for (const std::int32_t g : shape.groups) ntax += g;
    const auto n = static_cast<std::size_t>(shape.nchar);
    for (const auto& al : alphabets) {
      const char_mat_type chars =
          columns_of(rng, ntax, shape.nchar, al.symbols);
      const consecutive_hosts grouped(shape.groups);
      const auto& hosts = grouped.hosts;
      const auto& sizes = grouped.sizes;
      for (const formula_type f :
           {formula_type::CONSENSUS, formula_type::MODUS, formula_type::ENTROPY,
            formula_type::FREQUENCIES})
        for (const fraction_type share : shares)
          for (const std::uint32_t minimum : minima) {
            if (f != formula_type::CONSENSUS && share.num != share.den)
              continue;  // read by the consensus only
            analysis_type a = al.alphabet
                                  ? analysis_type(f, *al.alphabet, al.gaps)
                                  : analysis_type(f, al.states);
            a.with_threshold(share).with_minimum(minimum);
            SCOPED_TRACE(std::string(shape.name) + ", " + al.name +
                         ", formula " + std::to_string(static_cast<int>(f)) +
                         ", share " + std::to_string(share.num) + "/" +
                         std::to_string(share.den) + ", minimum " +
                         std::to_string(minimum));
            char_mat_type plain(static_cast<std::int32_t>(hosts.size()),
                                a.columns(shape.nchar), a.cell_type());
            bool plain_failed = false;
            try {
              hostpara::detail::fill_rows_plain(plain, chars, hosts, a);
            } catch (const constraint_error&) {
              plain_failed = true;
            }
            for (const bool avx2 : {true, false}) {
              const vector_width width(avx2);
              hostpara::group_engine engine(a, chars), from_folds(a, chars);
              ASSERT_TRUE(hostpara::group_folds::can_fold(a));
              // Hosts said to be as large as they are (packed counters), and
              // of unknown size (bytes, 16-bit totals beyond 255).
              hostpara::group_folds said(a, sizes, n),
                  unknown(a, sizes.size(), n);
              std::int32_t i = 0;
              for (const auto& [label, group] : hosts) {
                ++i;
                const row_cells want = plain_row(plain, plain_failed, i);
                const auto compute = [&](auto& e, auto&&... folded) {
                  return cells_of(a, n, [&](row_cells& c) {
                    if (c.reals.empty())
                      e.compute(folded..., 0, n, c.codes.data());
                    else
                      e.compute(folded..., 0, n, c.reals.data());
                  });
                };
                engine.select(group);
                const row_cells got = compute(engine);
                // The plain matrix fails as a whole at its first failing
                // host; the hosts before it compute.
                if (!plain_failed) {
                  EXPECT_TRUE(got == want) << label;
                }
                std::vector<const char*> rows;
                for (const std::int32_t r : group)
                  rows.push_back(chars.discr_row(r));
                const auto h = static_cast<std::size_t>(i - 1);
                said.fold(h, rows);
                unknown.fold(h, rows);
                EXPECT_TRUE(compute(from_folds, said, h) == got) << label;
                EXPECT_TRUE(compute(from_folds, unknown, h) == got) << label;
              }
            }
          }
    }
  }
}

TEST(site_rule, worked_cases) {
  struct {
    const char* cells;  // one site, an associate each
    bool gaps;
    formula_type formula;
    fraction_type share;
    std::uint32_t minimum;
    const char* want;  // the code, or the real's text
  } cases[] = {
      {"aag", false, formula_type::CONSENSUS, {2, 3}, 1, "a"},  // 2 of 3
      {"aag", false, formula_type::CONSENSUS, {7, 10}, 1, "r"},
      {"aacg", false, formula_type::CONSENSUS, {1, 2}, 1, "a"},
      {"acgt", false, formula_type::CONSENSUS, {1, 2}, 1, "n"},   // all tie
      {"aaccg", false, formula_type::CONSENSUS, {1, 2}, 1, "m"},  // a, c tie
      {"aaacg", false, formula_type::CONSENSUS, {3, 5}, 1, "a"},
      {"aaacg", false, formula_type::CONSENSUS, {61, 100}, 1, "v"},
      {"a", false, formula_type::CONSENSUS, {1, 10}, 1, "a"},
      {"ggg", false, formula_type::CONSENSUS, {3, 10}, 1, "g"},
      {"aa--", true, formula_type::CONSENSUS, {1, 2}, 1, "a"},
      {"---a", true, formula_type::CONSENSUS, {1, 2}, 1, "-"},
      {"-acc", true, formula_type::CONSENSUS, {3, 4}, 1, "?"},
      {"a?g", false, formula_type::CONSENSUS, {1, 1}, 3, "?"},
      {"aag", false, formula_type::CONSENSUS, {1, 1}, 3, "r"},
      {"aag", false, formula_type::MODUS, {1, 1}, 4, "?"},
      {"aag", false, formula_type::ENTROPY, {1, 1}, 3, "0.57938"},
      {"aag", false, formula_type::ENTROPY, {1, 1}, 4, "-99"},
      {"aag-", false, formula_type::FREQUENCIES, {1, 1}, 3, "0.666667"},
      {"aag-", true, formula_type::FREQUENCIES, {1, 1}, 5, "-99"},
  };
  for (const auto& c : cases) {
    const std::string cells = c.cells;
    char_mat_type chars(static_cast<std::int32_t>(cells.size()), 1,
                        matrix_type::DISCR);
    sets::ordered_tax_nos group;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      chars.discr(static_cast<std::int32_t>(i + 1), 1) = cells[i];
      group.insert(static_cast<std::int32_t>(i + 1));
    }
    analysis_type a(c.formula, c.gaps ? gapped_nuc_set : nuc_set);
    a.with_threshold(c.share).with_minimum(c.minimum);
    hostpara::group_engine engine(a, chars);
    engine.select(group);
    std::string got;
    if (a.cell_type() == matrix_type::DISCR) {
      got = "?";
      engine.compute(0, 1, got.data());
    } else {
      std::vector<float> v(static_cast<std::size_t>(a.columns_per_site()));
      engine.compute(0, 1, v.data());
      // The state "a" (after the gap with -g).
      char text[32];
      std::snprintf(
          text, sizeof text, "%g",
          static_cast<double>(
              v[c.formula == formula_type::FREQUENCIES && c.gaps ? 1 : 0]));
      got = text;
    }
    EXPECT_EQ(got, c.want) << c.cells << ", formula "
                           << static_cast<int>(c.formula) << ", share "
                           << c.share.num << "/" << c.share.den << ", minimum "
                           << c.minimum;
  }
}

TEST(analysis_type, refuses_shares_outside_0_to_1_and_a_minimum_of_0) {
  analysis_type a(formula_type::CONSENSUS, nuc_set);
  EXPECT_THROW(a.with_threshold({0, 1}), range_error);
  EXPECT_THROW(a.with_threshold({3, 2}), range_error);
  EXPECT_THROW(a.with_threshold({1, std::uint64_t{1} << 32}), range_error);
  EXPECT_THROW(a.with_minimum(0), range_error);
  // 1/2 and 50/100 are one share.
  analysis_type b = a;
  EXPECT_TRUE(a.with_threshold({1, 2}) == b.with_threshold({50, 100}));
  EXPECT_FALSE(a == b.with_minimum(2));
}

TEST(write_host_matrix,
     tidy_table_is_the_same_from_rows_and_folds_for_every_thread_count) {
  struct {
    const char* name;
    analysis_type analysis;
    std::string symbols;
    std::int32_t nchar;
  } cases[] = {
      {"nucleotides across a piece",
       analysis_type(formula_type::FREQUENCIES, gapped_nuc_set), "acgt-?n",
       8192 + 5},
      {"protein, counts without a memo",
       analysis_type(formula_type::FREQUENCIES, alphabet_type::protein(), true),
       "acdefghiklmnpqrstvwy-?", 70},
      {"standard characters: polymorphisms in braces",
       analysis_type(formula_type::FREQUENCIES, alphabet_type::standard("01"),
                     false),
       "01?", 50},
  };
  std::mt19937 rng(7);
  for (auto& c : cases) {
    c.analysis.with_threshold({1, 2}).with_minimum(2);
    const std::vector<std::int32_t> groups = {3, 1, 17};
    const char_mat_type chars = columns_of(rng, 21, c.nchar, c.symbols);
    hostpara::numeric_host_maps hosts;
    std::vector<std::size_t> sizes;
    std::int32_t row = 1;
    for (std::size_t h = 0; h < groups.size(); ++h) {
      sizes.push_back(static_cast<std::size_t>(groups[h]));
      for (std::int32_t k = 0; k < groups[h]; ++k)
        hosts["h" + std::to_string(h)].insert(row++);
    }
    hostpara::group_folds folds(c.analysis, sizes,
                                static_cast<std::size_t>(c.nchar));
    std::size_t h = 0;
    for (const auto& [label, group] : hosts) {
      std::vector<const char*> rows;
      for (const std::int32_t r : group) rows.push_back(chars.discr_row(r));
      folds.fold(h++, rows);
    }
    const auto table = [&](const hostpara::group_folds* f, std::int32_t t) {
      std::string text;
      text_output out(text);
      hostpara::host_matrix_job job{
          chars, hosts, c.analysis, "", char_format_type::NEXUS, f};
      job.tidy = true;
      hostpara::write_host_matrix(job, t, out);
      out.flush();
      return text;
    };
    const std::string want = table(nullptr, 1);
    EXPECT_EQ(std::count(want.begin(), want.end(), '\n'),
              1 + static_cast<std::ptrdiff_t>(hosts.size()) * c.nchar)
        << c.name;
    for (const std::int32_t t : {1, 2, 3}) {
      EXPECT_EQ(table(nullptr, t), want) << c.name << ", " << t << " threads";
      EXPECT_EQ(table(&folds, t), want) << c.name << ", folded, " << t;
    }
    if (c.symbols == "01?") {
      EXPECT_NE(want.find("\t{01}\t"), std::string::npos) << c.name;
    }
  }
}
