// Weighted groups: the weights of an association table's pairs, and host
// rows weighed by them against the plain weighted reference on odd shapes,
// with worked cases checked by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/test_util.hpp"
#include "zurud/detail/hostpara-weights.hpp"
#include "zurud/zurud-hostpara.hpp"

using namespace zurud;
using hostpara::analysis_type;
using hostpara::formula_type;
using hostpara::fraction_type;

namespace {

struct row_cells {
  std::string codes;
  std::vector<float> reals;
  std::vector<polymorphic_cell> poly;
  bool failed = false;
  bool operator==(const row_cells& o) const {
    if (failed || o.failed) return failed == o.failed;
    if (codes != o.codes || poly.size() != o.poly.size()) return false;
    for (std::size_t p = 0; p < poly.size(); ++p)
      if (poly[p].site != o.poly[p].site || poly[p].states != o.poly[p].states)
        return false;
    // Bit for bit: the same sums in the same order.
    return reals.size() == o.reals.size() &&
           (reals.empty() || std::memcmp(reals.data(), o.reals.data(),
                                         reals.size() * sizeof(float)) == 0);
  }
};

// Host i's cells (from 1) by the engine, in two stretches so that a row is
// also computed from a site other than the first.
row_cells engine_row(hostpara::detail::weighted_engine& e,
                     const analysis_type& a, std::size_t nchar) {
  row_cells c;
  const auto per = static_cast<std::size_t>(a.columns_per_site());
  if (a.cell_type() == matrix_type::DISCR)
    c.codes.assign(nchar, '\0');
  else
    c.reals.assign(nchar * per, 0);
  const std::size_t half = nchar / 2;
  try {
    for (const auto& [first, count] :
         {std::pair{std::size_t{0}, half}, std::pair{half, nchar - half}}) {
      std::vector<polymorphic_cell> poly;
      e.compute(first, count, c.codes.empty() ? nullptr : &c.codes[first],
                c.reals.empty() ? nullptr : &c.reals[first * per], &poly);
      // Places count from the first site asked for.
      for (const polymorphic_cell& p : poly)
        c.poly.push_back({first + p.site, p.states});
    }
  } catch (const constraint_error&) {
    c.failed = true;
  }
  return c;
}

row_cells plain_row(const char_mat_type& m, bool failed, std::int32_t i,
                    const std::vector<polymorphic_cell>& poly) {
  row_cells c;
  c.failed = failed;
  if (failed) return c;
  const auto n = static_cast<std::size_t>(m.nchar());
  if (m.char_type() == matrix_type::DISCR)
    c.codes.assign(m.discr_row(i), n);
  else
    c.reals.assign(m.quant_row(i), m.quant_row(i) + m.nchar());
  const std::size_t base = static_cast<std::size_t>(i - 1) * n;
  for (const polymorphic_cell& p : poly)
    if (p.site >= base && p.site < base + n)
      c.poly.push_back({p.site - base, p.states});
  return c;
}

}  // namespace

TEST(weighted_engine, computes_what_the_plain_weighted_reference_does) {
  struct {
    const char* name;
    std::optional<alphabet_type> alphabet;  // none: nucleotides, any states
    char_set states;
    bool gaps;
    std::string symbols;
  } alphabets[] = {
      {"nucleotides", std::nullopt, nuc_set, false, "acgt-?n"},
      {"nucleotides, gaps", std::nullopt, gapped_nuc_set, true, "acgt--?"},
      {"protein", alphabet_type::protein(), {}, false, "acdefghikw-?"},
      {"standard, gaps", alphabet_type::standard("012"), {}, true, "012-?"},
  };
  // Ties of weight at many sites, a weight far above the others, and
  // fractions whose sums round.
  const double weight_set[] = {1, 1, 2, 3, 0.5, 0.1, 1e9};
  const std::vector<std::int32_t> groups = {1, 2, 3, 5, 9};  // rows per host
  const fraction_type shares[] = {{1, 1}, {1, 2}, {2, 3}, {3, 10}};
  const std::uint32_t minima[] = {1, 2, 4};
  std::mt19937 rng(31);
  std::int32_t ntax = 0;
  for (const std::int32_t g : groups) ntax += g;
  // The last host shares its associates with the others, under other
  // weights.
  ntax -= groups.back();
  constexpr std::int32_t nchar = 1024 + 37;
  for (const auto& al : alphabets) {
    char_mat_type chars(ntax, nchar, matrix_type::DISCR);
    for (std::int32_t j = 1; j <= nchar; ++j) {
      const char a = al.symbols[rng() % al.symbols.size()];
      const bool constant = rng() % 3 == 0;
      for (std::int32_t i = 1; i <= ntax; ++i)
        chars.discr(i, j) =
            constant ? a : al.symbols[rng() % al.symbols.size()];
    }
    hostpara::numeric_host_maps hosts;
    std::vector<std::vector<double>> weights;
    std::int32_t row = 1;
    for (std::size_t h = 0; h < groups.size(); ++h) {
      auto& group = hosts["h" + std::to_string(h)];
      weights.emplace_back();
      for (std::int32_t k = 0; k < groups[h]; ++k) {
        group.insert(h + 1 < groups.size() ? row++ : 1 + k);
        weights.back().push_back(weight_set[rng() % std::size(weight_set)]);
      }
    }
    for (const formula_type f :
         {formula_type::CONSENSUS, formula_type::MODUS, formula_type::ENTROPY,
          formula_type::FREQUENCIES})
      for (const fraction_type share : shares)
        for (const std::uint32_t minimum : minima) {
          if (f != formula_type::CONSENSUS && share.num != share.den) continue;
          analysis_type a = al.alphabet
                                ? analysis_type(f, *al.alphabet, al.gaps)
                                : analysis_type(f, al.states);
          a.with_threshold(share).with_minimum(minimum);
          SCOPED_TRACE(std::string(al.name) + ", formula " +
                       std::to_string(static_cast<int>(f)) + ", share " +
                       std::to_string(share.num) + "/" +
                       std::to_string(share.den) + ", minimum " +
                       std::to_string(minimum));
          char_mat_type plain(static_cast<std::int32_t>(hosts.size()),
                              a.columns(nchar), a.cell_type());
          std::vector<polymorphic_cell> poly;
          bool plain_failed = false;
          try {
            hostpara::detail::fill_rows_weighted_plain(plain, chars, hosts,
                                                       weights, a, &poly);
          } catch (const constraint_error&) {
            plain_failed = true;
          }
          hostpara::detail::weighted_engine engine(a, chars);
          std::int32_t i = 0;
          bool failed = false;
          for (const auto& [label, group] : hosts) {
            engine.select(group, weights[static_cast<std::size_t>(i)]);
            ++i;
            const row_cells got = engine_row(engine, a, nchar);
            failed = failed || got.failed;
            // The plain matrix fails as a whole at its first failing host.
            if (!plain_failed) {
              EXPECT_TRUE(got == plain_row(plain, false, i, poly)) << label;
            }
          }
          EXPECT_EQ(failed, plain_failed);
        }
  }
}

TEST(weighted_engine, worked_cases_checked_by_hand) {
  // Four associates at one site: a weighs 5, c 3, g 2 (two of weight 1).
  const char_mat_type chars = [] {
    char_mat_type m(4, 1, matrix_type::DISCR);
    m.discr(1, 1) = 'a';
    m.discr(2, 1) = 'c';
    m.discr(3, 1) = 'g';
    m.discr(4, 1) = 'g';
    return m;
  }();
  const sets::ordered_tax_nos group = {1, 2, 3, 4};
  const std::vector<double> w = {5, 3, 1, 1};
  const auto cell = [&](formula_type f, fraction_type share,
                        std::uint32_t minimum) {
    analysis_type a(f, nuc_set);
    a.with_threshold(share).with_minimum(minimum);
    hostpara::detail::weighted_engine e(a, chars);
    e.select(group, w);
    row_cells c = engine_row(e, a, 1);
    return c;
  };
  struct {
    const char* name;
    formula_type f;
    fraction_type share;
    std::uint32_t minimum;
    std::string codes;
    std::vector<float> reals;
  } cases[] = {
      {"the heaviest state is modal, not the most frequent",
       formula_type::MODUS,
       {1, 1},
       1,
       "a",
       {}},
      {"half the weight is the heaviest state alone",
       formula_type::CONSENSUS,
       {1, 2},
       1,
       "a",
       {}},
      {"0.6 of the weight takes the next state too",
       formula_type::CONSENSUS,
       {3, 5},
       1,
       "m",
       {}},
      {"every state of positive weight",
       formula_type::CONSENSUS,
       {1, 1},
       1,
       "v",
       {}},
      {"the minimum counts associates, not weight",
       formula_type::CONSENSUS,
       {1, 1},
       5,
       "?",
       {}},
      {"shares of the weight",
       formula_type::FREQUENCIES,
       {1, 1},
       4,
       "",
       {0.5f, 0.3f, 0.2f, 0.0f}},
      // -(.5 ln .5 + .3 ln .3 + .2 ln .2) / ln min(4 associates, 4 states)
      {"entropy over ln min(n, k)",
       formula_type::ENTROPY,
       {1, 1},
       1,
       "",
       {static_cast<float>(1.0296530140645737 / 1.3862943611198906)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const row_cells got = cell(c.f, c.share, c.minimum);
    EXPECT_EQ(got.codes, c.codes);
    ASSERT_EQ(got.reals.size(), c.reals.size());
    for (std::size_t s = 0; s < c.reals.size(); ++s)
      EXPECT_FLOAT_EQ(got.reals[s], c.reals[s]);
  }
}

TEST(take_weights, reads_the_third_field_drops_zero_and_refuses_the_rest) {
  struct {
    const char* name;
    std::string table;
    std::vector<double> weights;  // of the pairs kept, in pair order
    bool fails;
    std::string detail;
  } cases[] = {
      {"numbers as people write them",
       "a1 H1 3\n"
       "a2 H1 +0.25\n"
       "a3 H1 1e6\n",
       {3, 0.25, 1e6},
       false,
       ""},
      {"a weight of 0 drops the pair",
       "a1,H1,0\n"
       "a2,H1,2\n",
       {2},
       false,
       ""},
      {"missing",
       "a1 H1 3\na2 H1\n",
       {},
       true,
       "no third column of the pair \"a2 H1\" (t.txt, line 2)"},
      {"negative",
       "a1\tH1\t-1\n",
       {},
       true,
       "the weight \"-1\" of the pair \"a1 H1\" (t.txt, line 1)"},
      {"not a number",
       "a1 H1 3x\n",
       {},
       true,
       "the weight \"3x\" of the pair \"a1 H1\" (t.txt, line 1)"},
      {"not finite", "a1 H1 inf\n", {}, true, "the weight \"inf\""},
      {"NaN", "a1 H1 nan\n", {}, true, "the weight \"nan\""},
      {"too large to sum", "a1 H1 1e101\n", {}, true, "above 1e100"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    read::text_input in(c.table, "t.txt");
    hostpara::resolved_assocs r =
        hostpara::resolve_assocs(hostpara::read_assoc_table(in), nullptr);
    if (c.fails) {
      try {
        hostpara::take_weights(r, "t.txt");
        ADD_FAILURE() << "no failure";
      } catch (const format_error& e) {
        EXPECT_NE(e.detail().find(c.detail), std::string::npos) << e.detail();
      }
      continue;
    }
    const hostpara::assoc_weights w = hostpara::take_weights(r, "t.txt");
    ASSERT_EQ(r.assocs.size(), c.weights.size());
    ASSERT_EQ(r.sources.size(), c.weights.size());
    for (std::size_t k = 0; k < c.weights.size(); ++k)
      EXPECT_EQ(w.at(*r.sources[k].pair), c.weights[k]);
  }
}

TEST(write_host_matrix, refuses_weights_that_do_not_fit_the_hosts_or_rows) {
  char_mat_type chars(2, 1, matrix_type::DISCR);
  chars.discr(1, 1) = 'a';
  chars.discr(2, 1) = 'c';
  const hostpara::numeric_host_maps hosts = {{"H", {1, 2}}};
  hostpara::host_matrix_job job{chars, hosts,
                                analysis_type(formula_type::CONSENSUS, nuc_set),
                                "", char_format_type::EXTENDED_PHYLIP};
  const std::vector<std::vector<double>> none, one = {{1, 2}};
  std::string sink;
  text_output out(sink);
  job.weights = &none;
  EXPECT_THROW(hostpara::write_host_matrix(job, 1, out), constraint_error);
  job.weights = &one;
  job.chars = hostpara::associate_rows::folded(2, 1);
  EXPECT_THROW(hostpara::write_host_matrix(job, 1, out),
               hostpara::matrix_error);
}
