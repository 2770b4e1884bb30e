// The rule that turns a site's counts of states into a host's cell, one
// site at a time: every kernel, the table of small hosts and the plain
// reference finish through it, so a formula is written down once.
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

#include "zurud/detail/hostpara-kernels.hpp"

namespace zurud::hostpara::detail {

namespace {

// Whether a non-empty mask is of one state (std::has_single_bit may be a
// library call where the processor's popcount is not assumed).
constexpr bool one_state(std::uint32_t mask) noexcept {
  return (mask & (mask - 1)) == 0;
}

}  // namespace

site_rule::site_rule(const analysis_type& analysis, std::int32_t max_group)
    : formula(analysis.formula()),
      alphabet(analysis.alphabet()),
      states(analysis.valid_states().members()),
      k(states.size()),
      polymorphisms(alphabet.writes_polymorphisms()),
      minimum(analysis.minimum()),
      threshold(analysis.threshold()),
      plain(analysis.minimum() <= 1 &&
            (analysis.formula() != formula_type::CONSENSUS ||
             analysis.takes_all_states())) {
  if (k <= mask_states) {
    in_order = true;
    for (std::size_t s = 0; s < k; ++s) {
      bit.push_back(alphabet.state_of(states[s]));
      if (bit.back() == 0) foreign |= std::uint32_t{1} << s;
      single.push_back(bit.back() == 0 ? 0 : alphabet.code_of(bit.back()));
      if (bit.back() == alphabet_type::gap_bit) gap = s;
      in_order =
          in_order && (s == gap || bit.back() == state_set_type{1}
                                                     << (s > gap ? s - 1 : s));
    }
  }
  if (k <= 8) {
    // Consensus codes by mask of states; a set without a code is 0.
    std::vector<char> table(std::size_t{1} << k);
    for (std::size_t mask = 0; mask < table.size(); ++mask)
      table[mask] = code_of_mask(static_cast<std::uint32_t>(mask));
    code = std::move(table);
  }
  index.fill(static_cast<std::uint16_t>(k));
  for (std::size_t s = 0; s < k; ++s)
    index[static_cast<unsigned char>(states[s])] =
        static_cast<std::uint16_t>(s);
  if (formula == formula_type::ENTROPY) {
    max_ent.resize(static_cast<std::size_t>(max_group < 0 ? 0 : max_group));
    max_entropy(max_ent, analysis.valid_states());
  }
}

state_set_type site_rule::set_of_mask(std::uint32_t mask) const {
  if (in_order) {
    if (gap >= k) return mask;
    const std::uint32_t below = mask & ((std::uint32_t{1} << gap) - 1);
    const std::uint32_t above = gap + 1 < 32 ? mask >> (gap + 1) << gap : 0;
    return below | above |
           ((mask >> gap & 1) != 0 ? alphabet_type::gap_bit : 0);
  }
  state_set_type set = 0;
  for (; mask != 0; mask &= mask - 1)
    set |= bit[static_cast<std::size_t>(std::countr_zero(mask))];
  return set;
}

char site_rule::code_of_mask(std::uint32_t mask) const {
  if (!code.empty()) return code[mask];
  if (mask == 0) return undefined_char;
  if ((mask & foreign) != 0) return 0;
  if (one_state(mask))
    return single[static_cast<std::size_t>(std::countr_zero(mask))];
  const state_set_type set = set_of_mask(mask);
  return alphabet.polymorphic(set) ? poly_mark : alphabet.code_of(set);
}

void block_out::put_code(const site_rule& rule, std::size_t j, char code,
                         std::uint32_t mask) const {
  if (code == 0) throw constraint_error(key_not_in_map_msg);
  if (code == site_rule::poly_mark) {
    if (poly != nullptr) poly->push_back({base + j, rule.set_of_mask(mask)});
    code = undefined_char;
  }
  dout[j] = code;
}

void code_memo::put(const site_rule& rule, const block_out& out, std::size_t j,
                    std::uint32_t mask) {
  const char code = (*this)(rule, mask);
  if (code == 0 || code == site_rule::poly_mark)
    out.put_code(rule, j, code, mask);
  else
    out.dout[j] = code;
}

namespace {

// The code of the states met (s, count) that pass `pick`; `each` visits
// them in increasing order.
template <class Each, class Pick>
void put_code_of(const site_rule& rule, Each each, Pick pick, std::size_t j,
                 const block_out& out) {
  if (rule.k <= mask_states) {
    std::uint32_t mask = 0;
    each([&](std::size_t s, unsigned c) {
      if (pick(c)) mask |= std::uint32_t{1} << s;
    });
    out.put_code(rule, j, rule.code_of_mask(mask), mask);
    return;
  }
  // More states than a mask holds: they cannot all be the alphabet's, but
  // the ones met may be.
  char_set set;
  state_set_type bits = 0;
  each([&](std::size_t s, unsigned c) {
    if (!pick(c)) return;
    set.insert(static_cast<unsigned char>(rule.states[s]));
    bits |= rule.alphabet.state_of(rule.states[s]);
  });
  const char code = rule.alphabet.code_of(set);
  if (code == 0) throw constraint_error(key_not_in_map_msg);
  if (rule.alphabet.polymorphic(bits) && out.poly != nullptr)
    out.poly->push_back({out.base + j, bits});
  out.dout[j] = code;
}

// The smallest count that a consensus of the threshold takes: levels of
// counts from the largest down, each with every state of that count (ties
// are taken together), until they make up the share of the n associates
// counted. Counts are compared as sums (cum / n >= num / den without
// division), so a share given as 0.3 takes 3 of 10 exactly.
template <class Each>
unsigned threshold_level(const site_rule& rule, Each each, unsigned n) {
  const std::uint64_t need = rule.threshold.num * std::uint64_t{n};
  std::uint64_t cum = 0;
  unsigned level = ~0u;
  for (;;) {
    unsigned next = 0;
    each([&](std::size_t, unsigned c) {
      if (c < level) next = std::max(next, c);
    });
    if (next == 0) return level;  // every state taken
    level = next;
    each([&](std::size_t, unsigned c) {
      if (c == level) cum += c;
    });
    if (cum * rule.threshold.den >= need) return level;
  }
}

// The rule, over the states met at a site: `each(f)` calls f(s, count) for
// every state s counted at least once, in increasing order of s.
template <class Each>
void finish_each(const site_rule& rule, term_table& terms, Each each,
                 std::size_t j, const block_out& out) {
  unsigned n = 0, best = 0, distinct = 0;
  each([&](std::size_t, unsigned c) {
    n += c;
    best = std::max(best, c);
    ++distinct;
  });
  // Too few associates with a state: undefined whatever the formula.
  const bool few = n < rule.minimum;
  switch (rule.formula) {
    case formula_type::CONSENSUS:
      if (n == 0 || few) {
        out.dout[j] = undefined_char;
      } else if (rule.threshold.num == rule.threshold.den) {
        put_code_of(
            rule, each, [](unsigned) { return true; }, j, out);
      } else {
        const unsigned level = threshold_level(rule, each, n);
        put_code_of(
            rule, each, [level](unsigned v) { return v >= level; }, j, out);
      }
      break;
    case formula_type::MODUS:
      if (n == 0 || few)
        out.dout[j] = undefined_char;
      else
        put_code_of(
            rule, each, [best](unsigned v) { return v == best; }, j, out);
      break;
    case formula_type::ENTROPY: {
      float v = undefined_real;
      if (n >= 2 && !few) {
        // Terms summed in code order of the states, as entropy() does.
        float h = 0.0f;
        if (distinct > 1)
          each([&](std::size_t, unsigned c) { h = h - terms(c, n); });
        v = h / rule.max_ent[n - 1];
      }
      out.qout[j] = v;
      break;
    }
    case formula_type::FREQUENCIES: {
      float* const q = out.qout + j * rule.k;
      std::fill_n(q, rule.k, n == 0 || few ? undefined_real : 0.0f);
      if (few) break;
      each([&](std::size_t s, unsigned c) {
        q[s] = static_cast<float>(c) / static_cast<float>(n);
      });
      break;
    }
    case formula_type::GROUP_SIZE:
      break;
  }
}

}  // namespace

void finish_site(const site_rule& rule, term_table& terms, const unsigned* c,
                 std::size_t j, block_out out) {
  finish_each(
      rule, terms,
      [&](auto f) {
        for (std::size_t s = 0; s < rule.k; ++s)
          if (c[s] > 0) f(s, c[s]);
      },
      j, out);
}

void finish_sparse(const site_rule& rule, term_table& terms,
                   const state_count* counts, std::size_t m, std::size_t j,
                   block_out out) {
  finish_each(
      rule, terms,
      [&](auto f) {
        for (std::size_t i = 0; i < m; ++i)
          if (counts[i].count > 0) f(counts[i].state, counts[i].count);
      },
      j, out);
}

// ---------------------------------------------------------------------------
// The plain kernels: every number of states, one site at a time.

// 16-bit counts, k + 1 per site (symbols outside the states land in the
// extra slot, which is never read, so the counting loop has no branch),
// rows visited one after the other over the block so that each associate
// row is read contiguously.
void count_plain(const site_rule& rule, kernel_scratch& x,
                 const char* const* rows, std::size_t nrows, std::size_t first,
                 std::size_t width, block_out out) {
  const std::size_t k = rule.k;
  const std::size_t stride = k + 1;
  x.counts.resize(kernel_block * stride);
  std::uint16_t* const counts = x.counts.data();
  std::fill_n(counts, width * stride, std::uint16_t{0});
  for (std::size_t r = 0; r < nrows; ++r) {
    const char* row = rows[r] + first;
    for (std::size_t j = 0; j < width; ++j)
      ++counts[j * stride + rule.index[static_cast<unsigned char>(row[j])]];
  }
  unsigned c[256];
  for (std::size_t j = 0; j < width; ++j) {
    for (std::size_t s = 0; s < k; ++s) c[s] = counts[j * stride + s];
    finish_site(rule, x.terms, c, j, out);
  }
}

void finish_fold_plain(const site_rule& rule, kernel_scratch& x,
                       const std::uint8_t* acc, std::size_t n,
                       std::size_t first, std::size_t count, block_out out) {
  unsigned c[mask_states];
  for (std::size_t j = 0; j < count; ++j) {
    for (std::size_t s = 0; s < rule.k; ++s) c[s] = acc[s * n + first + j];
    finish_site(rule, x.terms, c, j, out);
  }
}

void finish_met_plain(const site_rule& rule, const std::uint8_t* acc,
                      std::size_t n, std::size_t first, std::size_t count,
                      block_out out) {
  const counter_width met{1};
  for (std::size_t j = 0; j < count; ++j) {
    std::uint32_t mask = 0;
    for (std::size_t s = 0; s < rule.k; ++s)
      mask |= met.get(acc, n, first + j, s) << s;
    out.put_code(rule, j, rule.code_of_mask(mask), mask);
  }
}

void finish_masks(const site_rule& rule, const std::uint8_t* acc,
                  std::size_t first, std::size_t count, block_out out) {
  for (std::size_t j = 0; j < count; ++j) {
    const std::uint32_t mask = counter_width::mask(acc, first + j);
    out.put_code(rule, j, rule.code_of_mask(mask), mask);
  }
}

void finish_wide_plain(const site_rule& rule, kernel_scratch& x,
                       const std::uint8_t* acc, const std::uint16_t* wide,
                       std::size_t n, std::size_t first, std::size_t count,
                       counter_width width, block_out out) {
  unsigned c[mask_states];
  for (std::size_t j = first; j < first + count; ++j) {
    for (std::size_t s = 0; s < rule.k; ++s)
      c[s] = width.get(acc, n, j, s) + unsigned{wide[s * n + j]};
    finish_site(rule, x.terms, c, j - first, out);
  }
}

bool finished_by_byte(const site_rule& rule, counter_width width) noexcept {
  return (rule.formula == formula_type::ENTROPY ||
          rule.formula == formula_type::FREQUENCIES) &&
         width.bits == 2 && rule.k <= width.per_byte();
}

void finish_bytes(const site_rule& rule, kernel_scratch& scratch,
                  const std::uint8_t* acc, std::size_t count, float* out) {
  const bool entropy = rule.formula == formula_type::ENTROPY;
  if (!scratch.byte_cells) {
    // A host of 2-bit counters has at most three rows: only bytes whose
    // counts sum to at most 3 (and, for entropies, to no more than the
    // largest group the rule knows) occur, and only those are computed.
    constexpr counter_width two{2};
    const std::size_t most =
        entropy ? std::min<std::size_t>(two.limit(), rule.max_ent.size())
                : two.limit();
    const std::size_t cols = entropy ? 1 : rule.k;
    auto table = std::make_unique<float[]>(256 * cols);
    for (unsigned b = 0; b < 256; ++b) {
      unsigned c[4] = {};
      std::size_t n = 0;
      for (std::size_t s = 0; s < rule.k; ++s) {
        c[s] = b >> (2 * s) & two.limit();
        n += c[s];
      }
      std::fill_n(table.get() + b * cols, cols, undefined_real);
      if (n <= most && (b >> (2 * rule.k)) == 0)
        finish_site(rule, scratch.terms, c, b,
                    block_out{nullptr, table.get()});
    }
    scratch.byte_cells = std::move(table);
  }
  const float* const table = scratch.byte_cells.get();
  if (entropy) {
    for (std::size_t j = 0; j < count; ++j) out[j] = table[acc[j]];
  } else if (rule.k == 4) {
    for (std::size_t j = 0; j < count; ++j)
      std::memcpy(out + 4 * j, table + 4 * acc[j], 4 * sizeof(float));
  } else {
    for (std::size_t j = 0; j < count; ++j)
      std::copy_n(table + rule.k * acc[j], rule.k, out + rule.k * j);
  }
}

}  // namespace zurud::hostpara::detail
