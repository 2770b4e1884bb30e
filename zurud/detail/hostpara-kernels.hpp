// Inside the group-character engine: the rule that turns the state counts of
// one site into its cells, and the kernels that count a host's states over a
// block of sites and finish them by that rule. Not part of the library's
// interface; zurud-hostpara-group.cpp is the only user.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zurud/zurud-hostpara.hpp"

namespace zurud::hostpara::detail {

inline constexpr float undefined_real = analysis_type::undefined_real;
inline constexpr char undefined_char = analysis_type::undefined_char;

/// Sites counted and finished in one go; the count planes of a block stay in
/// the first-level cache.
inline constexpr std::size_t kernel_block = 4096;

/// ln(p) * p for p = c / n, every step rounded to single precision.
float entropy_term(std::int64_t c, std::int64_t n);

/// Entropy terms ln(p) * p by (count, group size), filled on first use: the
/// groups of a run take few distinct sizes.
class term_table {
 public:
  explicit term_table(std::size_t max_n) : rows_(max_n + 1) {}
  float operator()(std::size_t c, std::size_t n) {
    std::vector<float>& row = rows_[n];
    if (row.empty()) fill(row, n);
    return row[c];
  }

 private:
  static void fill(std::vector<float>& row, std::size_t n);
  std::vector<std::vector<float>> rows_;
};

/// Everything the finishing rule needs, fixed for a whole run and shared by
/// every thread: the analysis, its states in code order, the consensus code
/// of each set of states (by bit mask, for up to eight states; 0 marks a set
/// without a code, which fails when it is met) and the maximum entropies.
struct site_rule {
  site_rule(const analysis_type& analysis, std::int32_t max_group);
  formula_type formula;
  std::string states;
  std::size_t k;
  std::vector<char> code;  // 2^k entries when k <= 8; code[0] is "?"
  std::array<std::uint16_t, 256> index;  // symbol -> state, k for the rest
  std::array<std::uint8_t, 256> bit;     // symbol -> 1 << state (k <= 8), 0
  ent_val_type max_ent;                  // by group size, 1..max_group
};

/// Per-thread memory of the kernels: count planes and the tables that fill
/// as the run goes.
class kernel_scratch {
 public:
  kernel_scratch(const site_rule& rule, std::size_t max_group);
  ~kernel_scratch();
  kernel_scratch(const kernel_scratch&) = delete;
  kernel_scratch& operator=(const kernel_scratch&) = delete;

  term_table terms;
  /// Counts of the plain kernel: k + 1 per site (the last slot takes every
  /// symbol outside the states), 16 bits each.
  std::vector<std::uint16_t> counts;
  /// The vector kernels' planes and memo, made on first use.
  struct vector_state;
  std::unique_ptr<vector_state> vector;
};

/// Where a kernel puts the cells of a block: DISCR cells at dout[j], QUANT
/// cells at qout[j * columns_per_site ..]. The other pointer is null.
struct block_out {
  char* dout;
  float* qout;
};

/// Counts the states of `rows` (the host's associate rows) at sites
/// first..first+width-1 (0-based, width <= kernel_block) and writes their
/// cells. constraint_error when a consensus meets a set without a code.
using kernel_fn = void (*)(const site_rule& rule, kernel_scratch& scratch,
                           const char* const* rows, std::size_t nrows,
                           std::size_t first, std::size_t width, block_out out);

/// Folds one associate row of n cells into a host's accumulator of n sites:
/// for CONSENSUS acc[j] |= the bit of the cell's state; for the formulas
/// that count, acc[s * n + j] += 1 where the cell is state s (byte
/// counters).
using fold_fn = void (*)(const site_rule& rule, const char* row, std::size_t n,
                         std::uint8_t* acc);

/// The cells of sites first..first+count-1 (out[0] is site `first`'s) from
/// an accumulator of n sites as fold_fn leaves it: state masks for
/// CONSENSUS, byte counters for the other formulas. constraint_error as for
/// kernel_fn.
using finish_fold_fn = void (*)(const site_rule& rule, kernel_scratch& scratch,
                                const std::uint8_t* acc, std::size_t n,
                                std::size_t first, std::size_t count,
                                block_out out);

/// As finish_fold_fn for counters of which `wide` holds 16-bit totals
/// (wide[s * n + j]) and acc the rows since, as bytes or, with `nibbles`,
/// as fold_nibbles leaves them; one site at a time.
void finish_wide(const site_rule& rule, kernel_scratch& scratch,
                 const std::uint8_t* acc, const std::uint16_t* wide,
                 std::size_t n, std::size_t first, std::size_t count,
                 bool nibbles, block_out out);

/// The 4-bit counters of fold_nibbles at sites first..first+width-1 as
/// byte counters, state s at planes[s * width + j].
void unpack_nibbles(const site_rule& rule, const std::uint8_t* acc,
                    std::size_t n, std::size_t first, std::size_t width,
                    std::uint8_t* planes);

/// As fold_fn for two rows at once (each accumulator block is loaded and
/// stored once for both).
using fold_pair_fn = void (*)(const site_rule& rule, const char* a,
                              const char* b, std::size_t n, std::uint8_t* acc);

struct kernel_set {
  kernel_fn count;
  fold_fn fold;
  /// As fold for the counting formulas, into 4-bit counters (hosts of at
  /// most 15 rows take half the memory): states 2p and 2p + 1 share the
  /// bytes acc[p * n + j], in their low and high four bits.
  fold_fn fold_nibbles;
  fold_pair_fn fold_pair, fold_pair_nibbles;
  finish_fold_fn finish_fold;
};

/// The one dispatch point: the AVX2 kernels for four or five states (any up
/// to eight for folding) where the processor has AVX2 and
/// detail::use_avx2() allows it, else the plain ones.
kernel_set select_kernels(const site_rule& rule);

/// The finishing rule of one site from the counts c[0..k) of its states:
/// consensus code of the states present (or of the most frequent ones, ties
/// included, for MODUS), "?" when nothing counted; entropy over the maximum
/// for the count (-99.0 below two); frequencies count / n (-99.0 for none).
void finish_site(const site_rule& rule, term_table& terms, const unsigned* c,
                 std::size_t j, block_out out);

}  // namespace zurud::hostpara::detail
