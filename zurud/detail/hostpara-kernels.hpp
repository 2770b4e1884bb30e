// Inside the group-character engine: the rule that turns the state counts of
// one site into its cells, the kernels that count a host's states over a
// block of sites or fold associate rows into its accumulators, and those that
// finish them by that rule. Not part of the library's interface;
// zurud-hostpara-group.cpp is the only user.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

/// Sites of packed counters unpacked into byte planes and finished at a
/// time: of many states fewer, so that their planes too stay in the
/// first-level cache.
constexpr std::size_t unpack_block(std::size_t k) noexcept {
  return k > 8 ? kernel_block / 4 : kernel_block;
}

/// ln(p) * p for p = c / n, every step rounded to single precision.
float entropy_term(std::int64_t c, std::int64_t n);

/// Entropy terms ln(p) * p by (count, group size), each computed on first
/// use: the variable sites of a run take few distinct pairs.
class term_table {
 public:
  explicit term_table(std::size_t max_n) : rows_(max_n + 1) {}
  float operator()(std::size_t c, std::size_t n) {
    std::vector<float>& row = rows_[n];
    if (row.empty()) row.assign(n + 1, unknown);
    float& t = row[c];
    if (t == unknown)
      t = entropy_term(static_cast<std::int64_t>(c),
                       static_cast<std::int64_t>(n));
    return t;
  }

 private:
  // Not a term: ln(p) * p is never positive.
  static constexpr float unknown = 1.0f;
  std::vector<std::vector<float>> rows_;
};

/// The most states whose sets are bit masks (of 32 bits) in the kernels;
/// analyses of more states are finished one site at a time.
inline constexpr std::size_t mask_states = 32;

/// Everything the finishing rule needs, fixed for a whole run and shared by
/// every thread: the analysis, its states in code order, the consensus code
/// of each set of states (by bit mask: in a table for up to eight states,
/// where 0 marks a set without a code, which fails when it is met) and the
/// maximum entropies.
struct site_rule {
  site_rule(const analysis_type& analysis, std::int32_t max_group);
  /// The code of the states in `mask` (bit s for state s, k <= 32): 0 when
  /// the set has none, poly_mark for a polymorphism.
  char code_of_mask(std::uint32_t mask) const;
  /// The alphabet's set of the states in `mask` (k <= 32).
  state_set_type set_of_mask(std::uint32_t mask) const;
  /// Marks a polymorphism where the codes are one byte: the cell is written
  /// "?", and its states go to the caller when it asks for them.
  static constexpr char poly_mark = '\x01';

  formula_type formula;
  alphabet_type alphabet;
  std::string states;
  std::size_t k;
  /// Whether sets of several states can be polymorphisms (standard
  /// characters): the vector kernels made for nucleotides then stay unused.
  bool polymorphisms;
  std::vector<char> code;  // 2^k entries when k <= 8; code[0] is "?"
  std::vector<char> single;         // the code of each state alone (k <= 32)
  std::vector<state_set_type> bit;  // the alphabet's bit of each state
  std::uint32_t foreign = 0;        // states outside the alphabet: sets fail
  // The states are the alphabet's with the gap, if any, at `gap`: a mask
  // is the alphabet's set but for that bit.
  bool in_order = false;
  std::size_t gap = 32;
  std::array<std::uint16_t, 256> index;  // symbol -> state, k for the rest
  ent_val_type max_ent;                  // by group size, 1..max_group
  /// The analysis' minimum of associates with a state, and its consensus
  /// threshold (CONSENSUS only).
  std::uint32_t minimum = 1;
  fraction_type threshold{};
  /// Whether the site rule is the plain one for this formula: no minimum
  /// above 1, and a consensus of every state met. The vector finishers
  /// made for it serve only such rules; the others finish the sites they
  /// cannot classify at once through finish_site.
  bool plain = true;
};

struct block_out;

/// The codes of sets of several states by mask (of up to 32 states), each
/// looked up once by the rule: few distinct sets recur at many sites (two
/// residues, mostly).
class code_memo {
 public:
  char operator()(const site_rule& rule, std::uint32_t mask) {
    const std::size_t slot = (mask * 0x9E3779B1u) >> (32 - bits);
    if (key_[slot] != mask) {
      key_[slot] = mask;
      code_[slot] = rule.code_of_mask(mask);
    }
    return code_[slot];
  }
  /// Writes the code of `mask` at out.dout[j] as block_out::put_code does.
  void put(const site_rule& rule, const block_out& out, std::size_t j,
           std::uint32_t mask);

 private:
  static constexpr unsigned bits = 9;
  std::uint32_t key_[1u << bits] = {};  // 0: no entry (never several)
  char code_[1u << bits] = {};
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
  /// The cells of a site by the byte of its 2-bit counters, made on first
  /// use (see finish_bytes).
  std::unique_ptr<float[]> byte_cells;
  /// The sparse kernel's ranges and counts of a block, and its chunks of
  /// sites still to count.
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint16_t> wide;
  std::vector<std::uint32_t> chunks;
  /// Packed counters unpacked into byte planes.
  std::vector<std::uint8_t> planes;
  /// The cells of no state, as group_engine::count_states passes them over.
  std::vector<std::uint32_t> other;
};

/// Where a kernel puts the cells of a block: DISCR cells at dout[j], QUANT
/// cells at qout[j * columns_per_site ..]. The other pointer is null. A
/// polymorphism at dout[j] is written "?" and, when `poly` is given, its
/// site base + j and states are appended there.
struct block_out {
  char* dout;
  float* qout;
  std::vector<polymorphic_cell>* poly = nullptr;
  std::size_t base = 0;
  /// The same sites from `done` on.
  block_out from(std::size_t done, std::size_t per_site) const {
    return {dout ? dout + done : nullptr,
            qout ? qout + done * per_site : nullptr, poly, base + done};
  }
  /// Writes the code of site j's states (mask over the rule's states):
  /// constraint_error for a set without a code.
  void put_code(const site_rule& rule, std::size_t j, char code,
                std::uint32_t mask) const;
};

/// Counts the states of `rows` (the host's associate rows) at sites
/// first..first+width-1 (0-based, width <= kernel_block) and writes their
/// cells. constraint_error when a consensus meets a set without a code.
using kernel_fn = void (*)(const site_rule& rule, kernel_scratch& scratch,
                           const char* const* rows, std::size_t nrows,
                           std::size_t first, std::size_t width, block_out out);

/// Rows that one call of a fold kernel takes at most.
inline constexpr std::size_t fold_max_rows = 8;

/// How the counters of a host are packed: `bits` each. Counters of 2, 4 or 8
/// bits count: 8 / bits states share a byte, state s of site j being the
/// counter at bits (s % per_byte) * bits upwards of acc[s / per_byte * n + j].
/// Small hosts count in fewer bits and take less memory. Counters of 1 bit
/// only say which states were met, which is all a consensus needs (and all
/// the modal values of at most two symbols need: those always tie): a plane
/// of bits per state, state s of site j at bit j % 8 of
/// acc[s * met_stride(n) + j / 8], so that a site of four states takes half
/// a byte. Of more than eight states (up to 32) the states met are a mask a
/// site instead (`bits` 32): state s of site j at bit s of the 32-bit word
/// at acc + 4 * j, which a cell sets with one shift whatever the number of
/// states.
struct counter_width {
  unsigned bits;
  /// The states met only, in planes of bits or in masks.
  constexpr bool met_only() const noexcept { return bits == 1 || bits == 32; }
  constexpr bool site_masks() const noexcept { return bits == 32; }
  static constexpr std::size_t met_stride(std::size_t n) noexcept {
    return (n + 7) / 8;
  }
  constexpr std::size_t per_byte() const noexcept { return 8 / bits; }
  /// The most a counter holds.
  constexpr unsigned limit() const noexcept { return (1u << bits) - 1; }
  /// Bytes that k states of n sites take.
  constexpr std::size_t bytes(std::size_t k, std::size_t n) const noexcept {
    if (site_masks()) return 4 * n;
    return met_only() ? k * met_stride(n) : (k + per_byte() - 1) / per_byte() * n;
  }
  /// The states met at site j as a mask (site_masks()).
  static std::uint32_t mask(const std::uint8_t* acc, std::size_t j) noexcept {
    std::uint32_t m;
    std::memcpy(&m, acc + 4 * j, sizeof m);
    return m;
  }
  unsigned get(const std::uint8_t* acc, std::size_t n, std::size_t j,
               std::size_t s) const noexcept {
    if (site_masks()) return mask(acc, j) >> s & 1u;
    if (met_only()) return acc[s * met_stride(n) + j / 8] >> (j % 8) & 1u;
    return acc[s / per_byte() * n + j] >> (s % per_byte() * bits) & limit();
  }
};

/// Folds `nrows` associate rows (1..fold_max_rows) of n cells each into a
/// host's accumulator of n sites, each accumulator block loaded and stored
/// once for all of them: the counter of each cell's state at site j goes up
/// by one, or (1-bit counters) is set. `width` says how they are packed.
/// `fresh` says that acc is all zeros and never touched: it is then only
/// written, not read first, which spares reading back pages the system has
/// just cleared.
using fold_fn = void (*)(const site_rule& rule, const char* const* rows,
                         std::size_t nrows, std::size_t n, counter_width width,
                         bool fresh, std::uint8_t* acc);

/// The cells of sites first..first+count-1 (out[0] is site `first`'s) from
/// byte counters of n sites as fold_fn leaves them. constraint_error as for
/// kernel_fn.
using finish_fold_fn = void (*)(const site_rule& rule, kernel_scratch& scratch,
                                const std::uint8_t* acc, std::size_t n,
                                std::size_t first, std::size_t count,
                                block_out out);

/// As finish_fold_fn for counters of which `wide` holds 16-bit totals
/// (wide[s * n + j]) and acc, packed as `width` says, the rows since.
using finish_wide_fn = void (*)(const site_rule& rule, kernel_scratch& scratch,
                                const std::uint8_t* acc,
                                const std::uint16_t* wide, std::size_t n,
                                std::size_t first, std::size_t count,
                                counter_width width, block_out out);

/// The consensus codes of sites first..first+count-1 (out.dout[0] is site
/// `first`'s) from 1-bit counters of n sites: the code of the states met,
/// "?" where none was. constraint_error as for kernel_fn.
using finish_met_fn = void (*)(const site_rule& rule, const std::uint8_t* acc,
                               std::size_t n, std::size_t first,
                               std::size_t count, block_out out);

/// The packed counters (2 or 4 bits) of sites first..first+count-1 as byte
/// counters, state s at planes[s * count + j].
void unpack_counters(const site_rule& rule, const std::uint8_t* acc,
                     std::size_t n, std::size_t first, std::size_t count,
                     counter_width width, std::uint8_t* planes);

/// Whether finish_bytes serves a host counted in `width` counters. It and
/// finish_site are in zurud-hostpara-site.cpp, the counting and finishing
/// kernels and their dispatch in zurud-hostpara-kernels.cpp.
bool finished_by_byte(const site_rule& rule, counter_width width) noexcept;

/// The entropies or frequencies of `count` sites of a host of at most three
/// associations counted in 2-bit counters of at most four states, one byte
/// a site (acc[j] for the cells of out's site j): each byte's cells come
/// from a table of all 256, made once per thread by the one finishing rule.
/// A lookup spares sorting the sites into undefined, constant and variable
/// ones for entropies, and the divisions of frequencies.
void finish_bytes(const site_rule& rule, kernel_scratch& scratch,
                  const std::uint8_t* acc, std::size_t count, float* out);

/// The codes of sites first..first+count-1 from site masks of the states
/// met (counter_width 32). constraint_error as for kernel_fn.
using finish_masks_fn = void (*)(const site_rule& rule, const std::uint8_t* acc,
                                 std::size_t first, std::size_t count,
                                 block_out out);

struct kernel_set {
  kernel_fn count;
  fold_fn fold;
  finish_fold_fn finish_fold;
  finish_wide_fn finish_wide;
  finish_met_fn finish_met;
  finish_masks_fn finish_masks;
};

/// Folds sites from..n-1 of the rows a cell at a time: the plain folding,
/// and the vector kernels' last sites.
void fold_sites(const site_rule& rule, const char* const* rows,
                std::size_t nrows, std::size_t n, counter_width width,
                std::size_t from, std::uint8_t* acc);

/// The fold kernels, in zurud-hostpara-fold-kernels.cpp: the plain one and
/// the AVX2 one (x86-64 only), counters of up to 32 states, and site masks
/// by fold_masks_avx2.
void fold_plain(const site_rule& rule, const char* const* rows,
                std::size_t nrows, std::size_t n, counter_width width,
                bool fresh, std::uint8_t* acc);
void fold_avx2(const site_rule& rule, const char* const* rows,
               std::size_t nrows, std::size_t n, counter_width width,
               bool fresh, std::uint8_t* acc);

/// The one dispatch point: where the processor has AVX2 and
/// detail::use_avx2() allows it, the AVX2 kernels made for four or five
/// states (nucleotides, with and without gaps), the AVX2 kernels for any
/// number of states up to 32 (protein, standard characters) otherwise, and
/// AVX2 folding; else the plain ones.
kernel_set select_kernels(const site_rule& rule);

/// The plain kernels, for any number of states (the folds' for up to 32),
/// in zurud-hostpara-site.cpp beside the rule they finish by.
void count_plain(const site_rule& rule, kernel_scratch& scratch,
                 const char* const* rows, std::size_t nrows, std::size_t first,
                 std::size_t width, block_out out);
void finish_fold_plain(const site_rule& rule, kernel_scratch& scratch,
                       const std::uint8_t* acc, std::size_t n,
                       std::size_t first, std::size_t count, block_out out);
void finish_wide_plain(const site_rule& rule, kernel_scratch& scratch,
                       const std::uint8_t* acc, const std::uint16_t* wide,
                       std::size_t n, std::size_t first, std::size_t count,
                       counter_width width, block_out out);
void finish_met_plain(const site_rule& rule, const std::uint8_t* acc,
                      std::size_t n, std::size_t first, std::size_t count,
                      block_out out);
/// The codes of sites first..first+count-1 from site masks of the states
/// met (counter_width 32).
void finish_masks(const site_rule& rule, const std::uint8_t* acc,
                  std::size_t first, std::size_t count, block_out out);

/// The AVX2 kernels for any number of states up to 32 (x86-64 only), in
/// zurud-hostpara-many-kernels.cpp. Counting: the smallest and largest
/// state met at each site and their cells, then again within them, in
/// rounds; the states counted one by one only where the rounds leave cells
/// uncounted. Folding: a cell's state sets its bit of the site's mask; and
/// the codes of those masks.
void count_sparse_avx2(const site_rule& rule, kernel_scratch& scratch,
                       const char* const* rows, std::size_t nrows,
                       std::size_t first, std::size_t width, block_out out);
void fold_masks_avx2(const site_rule& rule, const char* const* rows,
                     std::size_t nrows, std::size_t n, bool fresh,
                     std::uint8_t* acc);
void finish_masks_avx2(const site_rule& rule, const std::uint8_t* acc,
                       std::size_t first, std::size_t count, block_out out);

/// A state counted at a site, and its count.
struct state_count {
  std::size_t state;
  unsigned count;
};

/// The finishing rule of one site from the counts c[0..k) of its states:
/// consensus code of the states present (or of the most frequent ones, ties
/// included, for MODUS), "?" when nothing counted; entropy over the maximum
/// for the count (-99.0 below two); frequencies count / n (-99.0 for none).
void finish_site(const site_rule& rule, term_table& terms, const unsigned* c,
                 std::size_t j, block_out out);

/// The same from the states counted at a site, in increasing order of
/// state (those of count 0 are passed over).
void finish_sparse(const site_rule& rule, term_table& terms,
                   const state_count* counts, std::size_t m, std::size_t j,
                   block_out out);

}  // namespace zurud::hostpara::detail
