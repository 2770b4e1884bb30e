// The engine over alphabets of many states (protein, standard characters)
// against the plain reference: every kernel, with and without AVX2, from
// the associate matrix and from rows folded as they come.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/engine_util.hpp"
#include "tests/test_util.hpp"
#include "zurud/zurud-hostpara.hpp"
#include "zurud/zurud-print.hpp"

using namespace zurud;
using hostpara::analysis_type;
using hostpara::formula_type;

namespace {

// Cells as readers store them: most columns one symbol with rare others
// (many with only two states, which the kernels finish apart), the rest
// drawn from every symbol.
char_mat_type cells_over(std::mt19937& rng, std::int32_t ntax,
                         std::int32_t nchar, const std::string& symbols) {
  char_mat_type m(ntax, nchar, matrix_type::DISCR);
  for (std::int32_t j = 1; j <= nchar; ++j) {
    const unsigned kind = rng() % 3;
    const char common = symbols[rng() % symbols.size()];
    const char other = symbols[rng() % symbols.size()];
    for (std::int32_t i = 1; i <= ntax; ++i)
      m.discr(i, j) = kind == 0   ? symbols[rng() % symbols.size()]
                      : kind == 1 ? (rng() % 3 == 0 ? other : common)
                                  : (rng() % 40 == 0 ? other : common);
  }
  for (std::int32_t i = 1; i <= ntax; ++i)
    m.labels(i) = "a" + std::to_string(i);
  return m;
}

}  // namespace

TEST(alphabet_engine, every_kernel_computes_what_the_plain_reference_does) {
  struct {
    const char* name;
    alphabet_type alphabet;
    bool gaps;
    std::string symbols;  // cells as stored
  } alphabets[] = {
      {"protein", alphabet_type::protein(), false,
       "acdefghiklmnpqrstvwy-?xbzjuo*"},
      {"protein, gaps", alphabet_type::protein(), true,
       "acdefghiklmnpqrstvwy--?x"},
      {"0-9", alphabet_type::standard(), false, "0123456789?-"},
      {"0-9, gaps", alphabet_type::standard(), true, "0123456789?-"},
      {"binary, gaps", alphabet_type::standard("01"), true, "0011?-"},
      {"nine letters", alphabet_type::standard("ABCDEFGHI"), false,
       "abcdefghi?-"},
      // States of five high nibbles: more than the vector folds look up by
      // nibble, so they fold by compares.
      {"twelve symbols", alphabet_type::standard("!#0123@ABCP`"), false,
       "!#0123@abcp`?-"},
  };
  struct {
    const char* name;
    std::int32_t nchar;
    std::vector<std::int32_t> groups;  // consecutive rows per host
  } shapes[] = {
      {"one site", 1, {2, 3, 2}},
      {"one associate", 70, {1}},
      {"sites across a kernel block", 4096 + 77, {4, 5, 2}},
      {"host of 300 associates", 97, {300, 10}},
      // Every number of rows folded at once, 1 to 8, into every width.
      {"rows six, seven and fourteen at once", 45, {6, 7, 14, 3, 2}},
  };
  std::mt19937 rng(2024);
  for (const auto& shape : shapes) {
    std::int32_t ntax = 0;
    for (const std::int32_t g : shape.groups) ntax += g;
    const auto n = static_cast<std::size_t>(shape.nchar);
    for (const auto& al : alphabets) {
      const char_mat_type chars =
          cells_over(rng, ntax, shape.nchar, al.symbols);
      const consecutive_hosts grouped(shape.groups);
      const auto& hosts = grouped.hosts;
      const auto& sizes = grouped.sizes;
      for (const formula_type f :
           {formula_type::CONSENSUS, formula_type::MODUS, formula_type::ENTROPY,
            formula_type::FREQUENCIES}) {
        const analysis_type a(f, al.alphabet, al.gaps);
        SCOPED_TRACE(std::string(shape.name) + ", " + al.name + ", formula " +
                     std::to_string(static_cast<int>(f)));
        char_mat_type plain(static_cast<std::int32_t>(hosts.size()),
                            a.columns(shape.nchar), a.cell_type());
        std::vector<polymorphic_cell> plain_poly;
        hostpara::detail::fill_rows_plain(plain, chars, hosts, a, &plain_poly);
        for (const bool avx2 : {true, false}) {
          const vector_width width(avx2);
          hostpara::group_engine engine(a, chars), from_folds(a, chars);
          std::optional<hostpara::group_folds> folds;
          if (hostpara::group_folds::can_fold(a)) folds.emplace(a, sizes, n);
          std::int32_t i = 0;
          for (const auto& [label, group] : hosts) {
            ++i;
            row_cells want;
            if (a.cell_type() == matrix_type::DISCR) {
              want.codes.assign(plain.discr_row(i), n);
              for (const polymorphic_cell& p : plain_poly)
                if (p.site / n == static_cast<std::size_t>(i - 1))
                  want.polymorphisms.push_back({p.site % n, p.states});
            } else {
              want.reals.assign(plain.quant_row(i),
                                plain.quant_row(i) + plain.nchar());
            }
            engine.select(group);
            const row_cells got = cells_of(a, n, [&](row_cells& c) {
              if (c.reals.empty())
                engine.compute(0, n, c.codes.data(), c.polymorphisms);
              else
                engine.compute(0, n, c.reals.data());
            });
            EXPECT_TRUE(got == want) << label;
            if (!folds) continue;
            std::vector<const char*> rows;
            for (const std::int32_t r : group)
              rows.push_back(chars.discr_row(r));
            folds->fold(static_cast<std::size_t>(i - 1), rows);

            const auto h = static_cast<std::size_t>(i - 1);
            const row_cells folded = cells_of(a, n, [&](row_cells& c) {
              if (c.reals.empty())
                from_folds.compute(*folds, h, 0, n, c.codes.data(),
                                   c.polymorphisms);
              else
                from_folds.compute(*folds, h, 0, n, c.reals.data());
            });
            EXPECT_TRUE(folded == want) << label << " folded";
          }
        }
      }
    }
  }
}

TEST(alphabet_engine,
     protein_hosts_write_the_plain_matrix_for_every_thread_count) {
  std::mt19937 rng(7);
  const char_mat_type chars =
      cells_over(rng, 12, 9000, "acdefghiklmnpqrstvwy-?x");
  const hostpara::numeric_host_maps hosts{
      {"H1", {1, 2, 3, 4, 5}}, {"H2", {6, 7}}, {"H3", {8, 9, 10, 11, 12}}};
  for (const formula_type f :
       {formula_type::CONSENSUS, formula_type::MODUS, formula_type::ENTROPY}) {
    const analysis_type a(f, alphabet_type::protein(), true);
    char_mat_type plain(3, a.columns(9000), a.cell_type());
    plain.comment = "mingrpsize= 2";
    hostpara::detail::fill_rows_plain(plain, chars, hosts, a);
    std::string want;
    {
      text_output out(want);
      print::print_char_mat(plain, char_format_type::COMMENTED_PHYLIP, out);
    }
    for (const std::int32_t threads : {1, 2, 3, 7}) {
      std::string got;
      {
        text_output out(got);
        hostpara::write_host_matrix({chars, hosts, a, "mingrpsize= 2",
                                     char_format_type::COMMENTED_PHYLIP},
                                    threads, out);
      }
      EXPECT_EQ(got, want) << static_cast<int>(f) << " with " << threads;
    }
  }
}

// The folder weighs the folds' memory against the associate cells before it
// takes the rows: many states take it as the kernels lay it out.
TEST(alphabet_engine, folds_of_many_states_take_the_memory_they_say) {
  const alphabet_type& protein = alphabet_type::protein();
  struct {
    formula_type formula;
    bool gaps;
    std::size_t size, bytes;  // associations of the host, bytes of 33 sites
  } cases[] = {
      {formula_type::CONSENSUS, false, 600, 4 * 33},  // a mask a site
      {formula_type::MODUS, true, 2, 4 * 33},
      {formula_type::MODUS, false, 3, 5 * 33},     // 2-bit counters, 4 a byte
      {formula_type::ENTROPY, true, 15, 11 * 33},  // 4-bit, 2 a byte
      {formula_type::FREQUENCIES, false, 300, 20 * 33},
  };
  for (const auto& c : cases) {
    const analysis_type a(c.formula, protein, c.gaps);
    const std::vector<std::size_t> sizes{c.size};
    EXPECT_EQ(hostpara::group_folds::bytes(a, sizes, 33), c.bytes) << c.size;
    hostpara::group_folds folds(a, sizes, 33);
    EXPECT_EQ(folds.memory().size(), c.bytes) << c.size;
  }
}

// A host's sites holding its rows in every split among three states and
// missing data (a of one state, b of another, c of a third), so that every
// pair of counts and every tie reaches the finishers of many states, which
// take sites of two states and sites of several apart, in each counter
// width of a host of that size.
TEST(alphabet_engine, every_split_of_a_site_finishes_as_the_plain_reference) {
  const std::string symbols = "acdefghiklmnpqrstvwy";  // protein as stored
  for (const std::int32_t m : {3, 9, 17, 40}) {
    std::vector<std::array<std::int32_t, 3>> splits;
    for (std::int32_t a = 0; a <= m; ++a)
      for (std::int32_t b = 0; a + b <= m; ++b)
        for (std::int32_t c = 0; a + b + c <= m; ++c)
          splits.push_back({a, b, c});
    const auto n = splits.size();
    char_mat_type chars(m, static_cast<std::int32_t>(n), matrix_type::DISCR);
    for (std::size_t j = 0; j < n; ++j) {
      // Three states apart, in an order that changes from site to site.
      const char x = symbols[j % 20], y = symbols[(j + 7) % 20],
                 z = symbols[(j + 13) % 20];
      const auto [a, b, c] = splits[j];
      for (std::int32_t i = 1; i <= m; ++i)
        chars.discr(i, static_cast<std::int32_t>(j) + 1) = i <= a       ? x
                                                           : i <= a + b ? y
                                                           : i <= a + b + c
                                                               ? z
                                                               : '?';
    }
    for (std::int32_t i = 1; i <= m; ++i)
      chars.labels(i) = "a" + std::to_string(i);
    const consecutive_hosts grouped({m});
    for (const formula_type f : {formula_type::MODUS, formula_type::ENTROPY,
                                 formula_type::FREQUENCIES}) {
      const analysis_type a(f, alphabet_type::protein(), false);
      SCOPED_TRACE("host of " + std::to_string(m) + ", formula " +
                   std::to_string(static_cast<int>(f)));
      char_mat_type plain(1, a.columns(static_cast<std::int32_t>(n)),
                          a.cell_type());
      hostpara::detail::fill_rows_plain(plain, chars, grouped.hosts, a);
      const row_cells want = cells_of(a, n, [&](row_cells& c) {
        if (c.reals.empty())
          c.codes.assign(plain.discr_row(1), n);
        else
          c.reals.assign(plain.quant_row(1),
                         plain.quant_row(1) + plain.nchar());
      });
      for (const bool avx2 : {true, false}) {
        const vector_width width(avx2);
        hostpara::group_folds folds(a, grouped.sizes, n);
        std::vector<const char*> rows;
        for (std::int32_t i = 1; i <= m; ++i)
          rows.push_back(chars.discr_row(i));
        folds.fold(0, rows);
        hostpara::group_engine engine(a, chars);
        const row_cells folded = cells_of(a, n, [&](row_cells& c) {
          if (c.reals.empty())
            engine.compute(folds, 0, 0, n, c.codes.data());
          else
            engine.compute(folds, 0, 0, n, c.reals.data());
        });
        EXPECT_TRUE(folded == want);
      }
    }
  }
}
