// Weighted groups: the weights of the association file's pairs, and host
// rows whose states are weighed rather than counted. A run with weights is
// an option, not the common case, so this path is plain: doubles summed row
// by row into a stretch of sites, then finished one site at a time. The
// unweighted kernels stay as they are.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>

#include "zurud/detail/hostpara-kernels.hpp"
#include "zurud/detail/hostpara-weights.hpp"

namespace zurud::hostpara {

namespace {

std::string quoted_text(std::string_view s) {
  return "\"" + std::string(s.substr(0, std::min<std::size_t>(s.size(), 40))) +
         (s.size() > 40 ? "...\"" : "\"");
}

}  // namespace

assoc_weights take_weights(resolved_assocs& res, const std::string& file) {
  assoc_weights weights;
  weights.reserve(res.sources.size());
  std::vector<ordered_assocs::const_iterator> dropped;
  for (const assoc_source& s : res.sources) {
    std::string_view v = s.value;
    while (!v.empty() && whitespace.contains(v.front())) v.remove_prefix(1);
    while (!v.empty() && whitespace.contains(v.back())) v.remove_suffix(1);
    const association& pair = *s.pair;
    const std::string where = " of the pair \"" + pair.para + " " + pair.host +
                              "\" (" + file + ", line " +
                              std::to_string(s.line) + ")";
    const auto fail = [&](const std::string& what, const std::string& why) {
      format_error e(what, why);
      e.set_line(s.line);
      throw e;
    };
    if (v.empty())
      fail("a weight is missing",
           "no third column" + where + ": -w reads each pair's weight there");
    // A leading "+" is a number to people and spreadsheets alike; the cells
    // TRUE and T of an incidence matrix are pairs of weight 1.
    if (v.front() == '+') v.remove_prefix(1);
    if (v == "TRUE" || v == "True" || v == "true" || v == "T" || v == "t")
      v = "1";
    double w = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), w);
    if (ec != std::errc() || end != v.data() + v.size() || !std::isfinite(w))
      fail("a weight is not a number",
           "the weight " + quoted_text(s.value) + where);
    if (w < 0)
      fail("a weight is negative",
           "the weight " + quoted_text(s.value) + where);
    // Sums of any number of associates stay finite.
    if (w > 1e100)
      fail("a weight is too large",
           "the weight " + quoted_text(s.value) + where + " is above 1e100");
    // A weight of 0 drops the pair: the associate is not in that host's
    // group, for its size and the minimum alike.
    if (w == 0)
      dropped.push_back(s.pair);
    else
      weights.emplace(pair, w);
  }
  if (!dropped.empty()) {
    std::vector<assoc_source> kept;
    kept.reserve(res.sources.size() - dropped.size());
    for (const assoc_source& s : res.sources)
      if (weights.contains(*s.pair)) kept.push_back(s);
    res.sources = std::move(kept);
    for (const auto it : dropped) res.assocs.erase(it);
  }
  return weights;
}

namespace detail {

namespace {

// Stretches of sites weighed and finished in one go: their sums stay in
// the second-level cache.
constexpr std::size_t stretch = 1024;

// A weight sum as the tidy table writes it: an integer when it is one (read
// counts), else six significant digits.
char* put_sum(char* p, double v) {
  if (v == std::floor(v) && v < 9007199254740992.0)
    return std::to_chars(p, p + 24, static_cast<std::uint64_t>(v)).ptr;
  return std::to_chars(p, p + 32, v, std::chars_format::general, 6).ptr;
}

}  // namespace

weighted_engine::weighted_engine(const analysis_type& analysis,
                                 const associate_rows& rows)
    : analysis_(analysis),
      rows_(rows),
      // The codes of sets of states are the same for every formula.
      rule_(group_engine::make_rule(
          analysis.with_formula(formula_type::CONSENSUS), 0)),
      k_(rule_->k) {
  if (!rows.stored() || analysis.formula() == formula_type::GROUP_SIZE)
    throw matrix_error("weighted groups need the associates' rows");
}

weighted_engine::~weighted_engine() = default;

void weighted_engine::select(const sets::ordered_tax_nos& group,
                             std::span<const double> weights) {
  if (weights.size() != group.size())
    throw constraint_error("index check failed",
                           std::to_string(weights.size()) + " weights for " +
                               std::to_string(group.size()) + " associates");
  if (!group.empty() && (*group.begin() < 1 || *group.rbegin() > rows_.count()))
    throw constraint_error(
        "index check failed",
        "associate row outside 1.." + std::to_string(rows_.count()));
  selected_.clear();
  for (const std::int32_t r : group) selected_.push_back(rows_.row(r));
  weights_.assign(weights.begin(), weights.end());
}

void weighted_engine::weigh(std::size_t first, std::size_t count) {
  const std::size_t per = k_ + 1;
  sums_.assign(count * per, 0.0);
  std::vector<std::uint32_t>& counted = counted_;
  counted.assign(count * per, 0);
  const std::uint16_t* index = rule_->index.data();
  for (std::size_t i = 0; i < selected_.size(); ++i) {
    const char* row = selected_[i] + first;
    const double w = weights_[i];
    for (std::size_t j = 0; j < count; ++j) {
      const std::size_t at =
          j * per + index[static_cast<unsigned char>(row[j])];
      sums_[at] += w;
      ++counted[at];
    }
  }
  with_state_.assign(count, 0);
  for (std::size_t j = 0; j < count; ++j)
    for (std::size_t s = 0; s < k_; ++s) with_state_[j] += counted[j * per + s];
}

char weighted_engine::code_of(formula_type formula, const double* w,
                              std::uint32_t n, std::size_t j,
                              std::vector<polymorphic_cell>* poly) const {
  if (n == 0 || n < analysis_.minimum()) return undefined_char;
  // The states taken: those of positive weight, of the largest weight, or
  // under a threshold the levels of weight from the largest down.
  std::vector<bool> take(k_, false);
  if (formula == formula_type::MODUS) {
    const double top = *std::max_element(w, w + k_);
    for (std::size_t s = 0; s < k_; ++s) take[s] = w[s] == top;
  } else if (analysis_.takes_all_states()) {
    for (std::size_t s = 0; s < k_; ++s) take[s] = w[s] > 0;
  } else {
    // cum / total >= num / den without division; long double holds the
    // products of integer sums up to 2^64 exactly.
    double total = 0;
    for (std::size_t s = 0; s < k_; ++s) total += w[s];
    const fraction_type f = analysis_.threshold();
    const long double need = static_cast<long double>(f.num) * total;
    long double cum = 0;
    double level = INFINITY;
    for (;;) {
      double next = 0;
      for (std::size_t s = 0; s < k_; ++s)
        if (w[s] < level) next = std::max(next, w[s]);
      if (next <= 0) break;
      for (std::size_t s = 0; s < k_; ++s)
        if (w[s] == next) {
          take[s] = true;
          cum += next;
        }
      level = next;
      if (cum * static_cast<long double>(f.den) >= need) break;
    }
  }
  const site_rule& rule = *rule_;
  if (k_ <= mask_states) {
    std::uint32_t mask = 0;
    for (std::size_t s = 0; s < k_; ++s)
      if (take[s]) mask |= std::uint32_t{1} << s;
    char code = rule.code_of_mask(mask);
    if (code == 0) throw constraint_error(key_not_in_map_msg);
    if (code == site_rule::poly_mark) {
      if (poly != nullptr) poly->push_back({j, rule.set_of_mask(mask)});
      code = undefined_char;
    }
    return code;
  }
  // More states than a mask holds: the ones taken may still be the
  // alphabet's.
  char_set set;
  state_set_type bits = 0;
  for (std::size_t s = 0; s < k_; ++s)
    if (take[s]) {
      set.insert(static_cast<unsigned char>(rule.states[s]));
      bits |= rule.alphabet.state_of(rule.states[s]);
    }
  const char code = rule.alphabet.code_of(set);
  if (code == 0) throw constraint_error(key_not_in_map_msg);
  if (rule.alphabet.polymorphic(bits) && poly != nullptr)
    poly->push_back({j, bits});
  return code;
}

float weighted_engine::entropy_of(const double* w, std::uint32_t n) const {
  if (n < 2 || n < analysis_.minimum()) return undefined_real;
  double total = 0;
  for (std::size_t s = 0; s < k_; ++s) total += w[s];
  double h = 0;
  for (std::size_t s = 0; s < k_; ++s)
    if (w[s] > 0 && w[s] < total) {
      const double p = w[s] / total;
      h -= p * std::log(p);
    }
  // n associates spread over k states reach at most ln(min(n, k)), with
  // equal weights on min(n, k) states.
  const std::size_t m = std::min<std::size_t>(n, k_);
  if (m < 2 || h <= 0) return 0.0f;
  return static_cast<float>(
      std::min(1.0, h / std::log(static_cast<double>(m))));
}

void weighted_engine::compute(std::size_t first, std::size_t count, char* dout,
                              float* qout,
                              std::vector<polymorphic_cell>* poly) {
  const formula_type formula = analysis_.formula();
  for (std::size_t done = 0; done < count; done += stretch) {
    const std::size_t width = std::min(stretch, count - done);
    weigh(first + done, width);
    for (std::size_t j = 0; j < width; ++j) {
      const double* w = site_sums(j);
      const std::uint32_t n = with_state_[j];
      switch (formula) {
        case formula_type::CONSENSUS:
        case formula_type::MODUS:
          dout[done + j] = code_of(formula, w, n, done + j, poly);
          break;
        case formula_type::ENTROPY:
          qout[done + j] = entropy_of(w, n);
          break;
        case formula_type::FREQUENCIES: {
          float* q = qout + (done + j) * k_;
          if (n == 0 || n < analysis_.minimum()) {
            std::fill(q, q + k_, undefined_real);
            break;
          }
          double total = 0;
          for (std::size_t s = 0; s < k_; ++s) total += w[s];
          for (std::size_t s = 0; s < k_; ++s)
            q[s] = static_cast<float>(w[s] / total);
          break;
        }
        case formula_type::GROUP_SIZE:
          break;
      }
    }
  }
}

void weighted_engine::put_tidy_lines(text_output& out, std::string_view start,
                                     std::size_t first, std::size_t count) {
  std::vector<polymorphic_cell> poly;
  for (std::size_t done = 0; done < count; done += stretch) {
    const std::size_t width = std::min(stretch, count - done);
    weigh(first + done, width);
    for (std::size_t j = 0; j < width; ++j) {
      const double* w = site_sums(j);
      const std::uint32_t n = with_state_[j];
      char* const begin =
          out.reserve(start.size() + 64 + 40 * k_ + 2 * (k_ + 16));
      char* p = std::copy(start.begin(), start.end(), begin);
      p = std::to_chars(p, p + 24, first + done + j + 1).ptr;
      *p++ = '\t';
      p = std::to_chars(p, p + 24, n).ptr;
      for (std::size_t s = 0; s < k_; ++s) {
        *p++ = '\t';
        p = put_sum(p, w[s]);
      }
      for (const formula_type f :
           {formula_type::CONSENSUS, formula_type::MODUS}) {
        poly.clear();
        const char code = code_of(f, w, n, 0, &poly);
        *p++ = '\t';
        if (!poly.empty()) {
          const std::string braces =
              rule_->alphabet.polymorphism(poly.front().states);
          p = std::copy(braces.begin(), braces.end(), p);
        } else if (code == undefined_char) {
          *p++ = 'N';
          *p++ = 'A';
        } else {
          *p++ = code;
        }
      }
      const float h = entropy_of(w, n);
      *p++ = '\t';
      if (h == undefined_real) {
        *p++ = 'N';
        *p++ = 'A';
      } else {
        p = std::to_chars(p, p + 32, static_cast<double>(h),
                          std::chars_format::general, 6)
                .ptr;
      }
      *p++ = '\n';
      out.commit(static_cast<std::size_t>(p - begin));
    }
  }
}

}  // namespace detail

}  // namespace zurud::hostpara

namespace zurud::hostpara::detail {

void fill_rows_weighted_plain(char_mat_type& result, const char_mat_type& chars,
                              const numeric_host_maps& hosts,
                              const std::vector<std::vector<double>>& weights,
                              const analysis_type& analysis,
                              std::vector<polymorphic_cell>* polymorphisms) {
  if (chars.char_type() != matrix_type::DISCR ||
      result.char_type() != analysis.cell_type() ||
      result.nchar() != analysis.columns(chars.nchar()))
    throw matrix_error("host matrix shape fits no analysis");
  const formula_type formula = analysis.formula();
  const alphabet_type& alphabet = analysis.alphabet();
  const std::string states = analysis.valid_states().members();
  std::size_t cell = 0;
  const auto lookup_code = [&](const std::string& taken) {
    const char code = alphabet.code_of(char_set(taken));
    if (code == 0) throw constraint_error(key_not_in_map_msg);
    state_set_type set = 0;
    for (const char c : taken) set |= alphabet.state_of(c);
    if (polymorphisms != nullptr && alphabet.polymorphic(set))
      polymorphisms->push_back({cell, set});
    return code;
  };
  auto host = hosts.begin();
  for (std::int32_t i = 1; i <= result.ntax(); ++i, ++host) {
    if (host == hosts.end())
      throw constraint_error(
          "Position cursor of function Key equals No_Element");
    result.labels(i) = host->first;
    const sets::ordered_tax_nos& group = host->second;
    const std::vector<double>& w = weights.at(static_cast<std::size_t>(i - 1));
    if (formula == formula_type::GROUP_SIZE) {
      result.count(i, 1) = static_cast<std::int32_t>(group.size());
      continue;
    }
    result.comments(i) = integer_image(static_cast<std::int64_t>(group.size()));
    for (std::int32_t j = 1; j <= chars.nchar(); ++j) {
      cell = static_cast<std::size_t>(i - 1) *
                 static_cast<std::size_t>(result.nchar()) +
             static_cast<std::size_t>(j - 1);
      // The weight of each state met, summed in the group's order.
      std::map<char, double> weighed;
      std::uint32_t n = 0;
      std::size_t g = 0;
      for (const std::int32_t r : group) {
        const char c = chars.discr(r, j);
        if (analysis.valid_states().contains(c)) {
          weighed[c] += w.at(g);
          ++n;
        }
        ++g;
      }
      double total = 0;
      for (const char s : states)
        if (weighed.contains(s)) total += weighed[s];
      const bool none = n == 0 || n < analysis.minimum();
      // The states by weight, the heaviest first (code order among ties).
      std::vector<std::pair<double, char>> order;
      for (const auto& [c, sum] : weighed) order.emplace_back(sum, c);
      std::stable_sort(
          order.begin(), order.end(),
          [](const auto& a, const auto& b) { return a.first > b.first; });
      std::string taken;
      switch (formula) {
        case formula_type::CONSENSUS: {
          if (none) {
            result.discr(i, j) = undefined_char;
            break;
          }
          const fraction_type f = analysis.threshold();
          long double cum = 0;
          for (const auto& [sum, c] : order) {
            if (!taken.empty() && sum != order[taken.size() - 1].first &&
                cum * f.den >= static_cast<long double>(f.num) * total)
              break;
            taken += c;
            cum += sum;
          }
          std::sort(taken.begin(), taken.end());
          result.discr(i, j) = lookup_code(taken);
          break;
        }
        case formula_type::MODUS:
          if (none) {
            result.discr(i, j) = undefined_char;
            break;
          }
          for (const auto& [sum, c] : order)
            if (sum == order.front().first) taken += c;
          std::sort(taken.begin(), taken.end());
          result.discr(i, j) = lookup_code(taken);
          break;
        case formula_type::ENTROPY: {
          const std::size_t m = std::min(std::size_t{n}, states.size());
          if (none || n < 2) {
            result.quant(i, j) = undefined_real;
            break;
          }
          double h = 0;
          for (const char s : states)
            if (weighed.contains(s) && weighed[s] < total) {
              const double p = weighed[s] / total;
              h -= p * std::log(p);
            }
          result.quant(i, j) =
              m < 2 || h <= 0 ? 0.0f
                              : static_cast<float>(std::min(
                                    1.0, h / std::log(static_cast<double>(m))));
          break;
        }
        case formula_type::FREQUENCIES: {
          std::int32_t column =
              (j - 1) * static_cast<std::int32_t>(states.size());
          for (const char s : states)
            result.quant(i, ++column) =
                none ? undefined_real
                     : static_cast<float>(
                           (weighed.contains(s) ? weighed[s] : 0.0) / total);
          break;
        }
        case formula_type::GROUP_SIZE:
          break;
      }
    }
  }
}

}  // namespace zurud::hostpara::detail
