// The rule that turns a site's counts of states into a host's cell, one
// site at a time: every kernel, the table of small hosts and the plain
// reference finish through it, so a formula is written down once.
#include "zurud/detail/hostpara-kernels.hpp"

#include <algorithm>
#include <cstring>
#include <memory>

namespace zurud::hostpara::detail {

site_rule::site_rule(const analysis_type& analysis, std::int32_t max_group)
    : formula(analysis.formula()),
      alphabet(analysis.alphabet()),
      states(analysis.valid_states().members()),
      k(states.size()) {
  if (k <= 8) {
    // Consensus codes by mask of states; a set without a code stays 0.
    code.assign(std::size_t{1} << k, 0);
    code[0] = undefined_char;
    for (std::size_t mask = 1; mask < code.size(); ++mask) {
      char_set set;
      for (std::size_t s = 0; s < k; ++s)
        if (mask >> s & 1) set.insert(static_cast<unsigned char>(states[s]));
      code[mask] = alphabet.code_of(set);
    }
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

namespace {

// The consensus code of the states whose counts pass `pick`.
template <class Pick>
char code_of(const site_rule& rule, const unsigned* c, Pick pick) {
  if (rule.k <= 8) {
    unsigned mask = 0;
    for (std::size_t s = 0; s < rule.k; ++s)
      mask |= (pick(c[s]) ? 1u : 0u) << s;
    const char code = rule.code[mask];
    if (code == 0) throw constraint_error(key_not_in_map_msg);
    return code;
  }
  char_set set;
  for (std::size_t s = 0; s < rule.k; ++s)
    if (pick(c[s])) set.insert(static_cast<unsigned char>(rule.states[s]));
  const char code = rule.alphabet.code_of(set);
  if (code == 0) throw constraint_error(key_not_in_map_msg);
  return code;
}

}  // namespace

void finish_site(const site_rule& rule, term_table& terms, const unsigned* c,
                 std::size_t j, block_out out) {
  const std::size_t k = rule.k;
  unsigned n = 0, best = 0, distinct = 0;
  for (std::size_t s = 0; s < k; ++s) {
    n += c[s];
    best = std::max(best, c[s]);
    distinct += c[s] > 0;
  }
  switch (rule.formula) {
    case formula_type::CONSENSUS:
      out.dout[j] = n == 0 ? undefined_char
                           : code_of(rule, c, [](unsigned v) { return v > 0; });
      break;
    case formula_type::MODUS:
      out.dout[j] =
          n == 0 ? undefined_char
                 : code_of(rule, c, [best](unsigned v) { return v == best; });
      break;
    case formula_type::ENTROPY: {
      float v = undefined_real;
      if (n >= 2) {
        // Terms summed in code order of the states, as entropy() does.
        float h = 0.0f;
        if (distinct > 1)
          for (std::size_t s = 0; s < k; ++s)
            if (c[s] > 0) h = h - terms(c[s], n);
        v = h / rule.max_ent[n - 1];
      }
      out.qout[j] = v;
      break;
    }
    case formula_type::FREQUENCIES:
      for (std::size_t s = 0; s < k; ++s)
        out.qout[j * k + s] =
            n == 0 ? undefined_real
                   : static_cast<float>(c[s]) / static_cast<float>(n);
      break;
    case formula_type::GROUP_SIZE:
      break;
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
