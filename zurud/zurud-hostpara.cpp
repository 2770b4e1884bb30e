#include "zurud/zurud-hostpara.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

namespace zurud::hostpara {

// ---------------------------------------------------------------------------
// Associations.

bool operator<(const association& a, const association& b) noexcept {
  const int c = a.host.compare(b.host);
  return c < 0 || (c == 0 && a.para < b.para);
}

bool equal_assoc(const association& a, const association& b) noexcept {
  return a.host == b.host && a.para == b.para;
}

std::uint32_t id_assoc(const association& a) noexcept {
  std::string key;
  key.reserve(a.host.size() + 1 + a.para.size());
  key += a.host;
  key += static_cast<char>(28);
  key += a.para;
  return sets::string_hash(key);
}

namespace {

template <typename Set>
void read_pairs(read::text_input& in, Set& set) {
  association a;
  for (;;) {
    // Whitespace and line ends alone after the last pair end the file: a
    // trailing empty line is not the start of another pair.
    if (in.skip_members(whitespace)) return;
    a.para = read::get_word(in, whitespace);
    try {
      a.host = read::get_word(in, whitespace);
    } catch (end_of_file_error& e) {
      e.add_detail("the association file ended in the middle of a pair, "
                   "after associate \"" + a.para + "\"");
      throw;
    }
    if (!set.insert(a).second)
      throw constraint_error(element_in_set_msg,
                             "the pair \"" + a.para + " " + a.host +
                                 "\" occurs twice in the association file");
    if (!in.end_of_line()) in.skip_line();
  }
}

}  // namespace

void read_assoc(read::text_input& in, ordered_assocs& set) {
  read_pairs(in, set);
}

void read_assoc(read::text_input& in, assoc_sets& set) { read_pairs(in, set); }

// ---------------------------------------------------------------------------
// Numeric host map and filtering.

void to_numeric_host_map(numeric_host_maps& map, const ordered_assocs& assocs,
                         const sets::taxon_maps& taxa, text_output& err) {
  for (const association& a : assocs) {
    try {
      const auto row = taxa.find(a.para);
      if (row == taxa.end()) throw constraint_error(key_not_in_map_msg);
      map[a.host].insert(row->second);
    } catch (const constraint_error&) {
      err.put_line("Unknown parasite: " + a.para);
      throw;
    }
  }
}

void filter(numeric_host_maps& map, std::int32_t minimum, text_output& err) {
  for (auto it = map.begin(); it != map.end();) {
    if (static_cast<std::int64_t>(it->second.size()) >= minimum) {
      ++it;
      continue;
    }
    err.put_line("WARNING: Removing host " + it->first +
                 " (# associates below threshold)");
    it = map.erase(it);
  }
}

// ---------------------------------------------------------------------------
// Entropy and modal values.

namespace {

// ln(p) * p for p = c / n, every step rounded to single precision. The
// logarithm is taken in extended precision so that its rounding to float is
// the correctly rounded value.
float entropy_term(std::int64_t c, std::int64_t n) {
  const float p = static_cast<float>(c) / static_cast<float>(n);
  const float ln = static_cast<float>(std::log(static_cast<long double>(p)));
  return ln * p;
}

// Entropy of a group from its counts in increasing code order.
float entropy_of_counts(const std::int64_t* counts, std::size_t k) {
  std::int64_t n = 0;
  std::size_t distinct = 0;
  for (std::size_t s = 0; s < k; ++s) {
    n += counts[s];
    distinct += counts[s] > 0;
  }
  if (distinct == 0) throw constraint_error("entropy of an empty group");
  if (distinct == 1) return 0.0f;
  float h = 0.0f;
  for (std::size_t s = 0; s < k; ++s)
    if (counts[s] > 0) h = h - entropy_term(counts[s], n);
  return h;
}

std::array<std::int64_t, 256> byte_counts(std::string_view s) {
  std::array<std::int64_t, 256> counts{};
  for (char c : s) ++counts[static_cast<unsigned char>(c)];
  return counts;
}

}  // namespace

float entropy(std::string_view s) {
  const auto counts = byte_counts(s);
  return entropy_of_counts(counts.data(), counts.size());
}

void max_entropy(ent_val_type& result, const char_set& states) {
  const std::size_t k = static_cast<std::size_t>(states.size());
  if (k == 0) throw constraint_error("maximum entropy over no states");
  // The first i symbols of the states repeated in code order: every state
  // holds i / k of them, the first i % k states one more.
  std::vector<std::int64_t> counts(k);
  for (std::size_t i = 1; i <= result.size(); ++i) {
    for (std::size_t s = 0; s < k; ++s)
      counts[s] = static_cast<std::int64_t>(i / k + (s < i % k ? 1 : 0));
    result[i - 1] = entropy_of_counts(counts.data(), k);
  }
}

std::string modal_values(std::string_view s) {
  const auto counts = byte_counts(s);
  std::int64_t best = 0;
  std::size_t distinct = 0;
  for (std::int64_t c : counts) {
    distinct += c > 0;
    if (c > best) best = c;
  }
  if (distinct == 0) throw constraint_error("modal values of an empty group");
  if (distinct == 1) return std::string(s);
  std::string modes;
  for (unsigned c = 0; c < 256; ++c)
    if (counts[c] == best) modes += static_cast<char>(c);
  return modes;
}

// ---------------------------------------------------------------------------
// Group characters.

namespace {

const sets::charset_maps& nuc_amb_table() {
  static const sets::charset_maps table = sets::get_nuc_amb();
  return table;
}

}  // namespace

const sets::charset_maps& nuc_amb = nuc_amb_table();

namespace {

enum class formula_type : std::uint8_t {
  GROUP_SIZE,
  CONSENSUS,
  MODUS,
  ENTROPY,
  FREQUENCIES
};

constexpr float undefined_real = -99.0f;
constexpr char undefined_char = '?';

formula_type choose_formula(const char_mat_type& result,
                            const char_mat_type& chars,
                            const char_set& valid_states, bool modal_only) {
  if (chars.char_type() != matrix_type::DISCR)
    throw matrix_error("associate matrix is not discrete");
  switch (result.char_type()) {
    case matrix_type::CNTCH:
      if (result.nchar() == 1) return formula_type::GROUP_SIZE;
      break;
    case matrix_type::DISCR:
      if (result.nchar() == chars.nchar())
        return modal_only ? formula_type::MODUS : formula_type::CONSENSUS;
      break;
    case matrix_type::QUANT:
      if (result.nchar() == chars.nchar()) return formula_type::ENTROPY;
      if (static_cast<std::int64_t>(result.nchar()) ==
          static_cast<std::int64_t>(chars.nchar()) * valid_states.size())
        return formula_type::FREQUENCIES;
      break;
  }
  throw matrix_error("host matrix shape fits no analysis");
}

char lookup_code(const char_set& set) {
  const auto it = nuc_amb.find(set);
  if (it == nuc_amb.end()) throw constraint_error(key_not_in_map_msg);
  return it->second;
}

// States of a group counted per site, for a handful of valid states. Rows
// are visited one after the other over a block of sites, so each associate
// row is read contiguously and the counts of the block stay in cache.
class site_counter {
 public:
  static constexpr std::size_t max_states = 8;
  static constexpr std::size_t block = 4096;

  site_counter(const char_set& valid_states)
      : states_(valid_states.members()), k_(states_.size()),
        stride_(k_ + 1), counts_(block * stride_) {
    // Symbols outside the valid states land in an extra slot per site that
    // is never read, which keeps the counting loop free of branches.
    index_.fill(static_cast<std::uint8_t>(k_));
    for (std::size_t s = 0; s < k_; ++s)
      index_[static_cast<unsigned char>(states_[s])] =
          static_cast<std::uint8_t>(s);
  }

  /// Counts the states of `group` at sites first..first+width-1 (0-based).
  void count(const char_mat_type& chars, const sets::ordered_tax_nos& group,
             std::size_t first, std::size_t width) {
    std::fill_n(counts_.begin(), width * stride_, std::uint16_t{0});
    std::uint16_t* const counts = counts_.data();
    for (const std::int32_t r : group) {
      const char* row = chars.discr_row(r) + first;
      for (std::size_t j = 0; j < width; ++j)
        ++counts[j * stride_ + index_[static_cast<unsigned char>(row[j])]];
    }
  }

  /// Counts of site j (0-based within the block), k of them in code order.
  const std::uint16_t* at(std::size_t j) const {
    return counts_.data() + j * stride_;
  }
  std::size_t k() const { return k_; }
  const std::string& states() const { return states_; }

 private:
  std::string states_;
  std::size_t k_;
  std::size_t stride_;
  std::vector<std::uint16_t> counts_;
  std::array<std::uint8_t, 256> index_;
};

// Entropy terms ln(p) * p by (count, group size), filled on first use: the
// groups of a run take few distinct sizes.
class term_table {
 public:
  explicit term_table(std::size_t max_n) : rows_(max_n + 1) {}
  float operator()(std::size_t c, std::size_t n) {
    std::vector<float>& row = rows_[n];
    if (row.empty()) {
      row.resize(n + 1);
      for (std::size_t i = 1; i <= n; ++i)
        row[i] = entropy_term(static_cast<std::int64_t>(i),
                              static_cast<std::int64_t>(n));
    }
    return row[c];
  }

 private:
  std::vector<std::vector<float>> rows_;
};

void fill_rows_fast(char_mat_type& result, const char_mat_type& chars,
                    const numeric_host_maps& hosts,
                    const char_set& valid_states, formula_type formula,
                    const ent_val_type& max_ent) {
  site_counter counter(valid_states);
  const std::size_t k = counter.k();
  // Consensus codes by mask of states present; 0 marks a set the code table
  // lacks, which fails as the table's own lookup would, when it is reached.
  std::vector<char> code(std::size_t{1} << k, 0);
  for (std::size_t mask = 1; mask < code.size(); ++mask) {
    char_set set;
    for (std::size_t s = 0; s < k; ++s)
      if (mask >> s & 1) set.insert(static_cast<unsigned char>(counter.states()[s]));
    const auto it = nuc_amb.find(set);
    if (it != nuc_amb.end()) code[mask] = it->second;
  }
  term_table terms(static_cast<std::size_t>(chars.ntax()));
  const std::size_t nchar = static_cast<std::size_t>(chars.nchar());

  auto host = hosts.begin();
  for (std::int32_t i = 1; i <= result.ntax(); ++i, ++host) {
    const sets::ordered_tax_nos& group = host->second;
    for (std::size_t first = 0; first < nchar; first += site_counter::block) {
      const std::size_t width = std::min(site_counter::block, nchar - first);
      counter.count(chars, group, first, width);
      for (std::size_t j = 0; j < width; ++j) {
        const std::uint16_t* c = counter.at(j);
        std::size_t n = 0;
        std::uint16_t best = 0;
        unsigned present = 0;
        for (std::size_t s = 0; s < k; ++s) {
          n += c[s];
          best = std::max(best, c[s]);
          present |= (c[s] > 0 ? 1u : 0u) << s;
        }
        const std::size_t site = first + j;
        switch (formula) {
          case formula_type::CONSENSUS:
          case formula_type::MODUS: {
            char out = undefined_char;
            if (n > 0) {
              unsigned mask = present;
              if (formula == formula_type::MODUS) {
                mask = 0;
                for (std::size_t s = 0; s < k; ++s)
                  mask |= (c[s] == best ? 1u : 0u) << s;
              }
              out = code[mask];
              if (out == 0) throw constraint_error(key_not_in_map_msg);
            }
            result.discr_row(i)[site] = out;
            break;
          }
          case formula_type::ENTROPY: {
            float v = undefined_real;
            if (n >= 2) {
              float h = 0.0f;
              if (std::popcount(present) > 1)
                for (std::size_t s = 0; s < k; ++s)
                  if (c[s] > 0) h = h - terms(c[s], n);
              v = h / max_ent[n - 1];
            }
            result.quant_row(i)[site] = v;
            break;
          }
          case formula_type::FREQUENCIES: {
            float* out = result.quant_row(i) + site * k;
            for (std::size_t s = 0; s < k; ++s)
              out[s] = n == 0 ? undefined_real
                              : static_cast<float>(c[s]) / static_cast<float>(n);
            break;
          }
          case formula_type::GROUP_SIZE:
            break;
        }
      }
    }
  }
}

}  // namespace

namespace detail {

void fill_rows_plain(char_mat_type& result, const char_mat_type& chars,
                     const numeric_host_maps& hosts,
                     const char_set& valid_states, bool modal_only) {
  const formula_type formula =
      choose_formula(result, chars, valid_states, modal_only);
  ent_val_type max_ent;
  if (formula == formula_type::ENTROPY) {
    max_ent.resize(static_cast<std::size_t>(chars.ntax()));
    max_entropy(max_ent, valid_states);
  }
  const std::string states = valid_states.members();
  std::string group_string;
  group_string.reserve(static_cast<std::size_t>(chars.ntax()));
  auto host = hosts.begin();
  for (std::int32_t i = 1; i <= result.ntax(); ++i, ++host) {
    if (host == hosts.end())
      throw constraint_error("Position cursor of function Key equals No_Element");
    result.labels(i) = host->first;
    const sets::ordered_tax_nos& group = host->second;
    if (formula == formula_type::GROUP_SIZE) {
      result.count(i, 1) = static_cast<std::int32_t>(group.size());
      continue;
    }
    result.comments(i) = integer_image(static_cast<std::int64_t>(group.size()));
    std::int32_t column = 0;
    for (std::int32_t j = 1; j <= chars.nchar(); ++j) {
      group_string.clear();
      for (const std::int32_t r : group) {
        const char c = chars.discr(r, j);
        if (valid_states.contains(c)) group_string += c;
      }
      const std::size_t n = group_string.size();
      switch (formula) {
        case formula_type::CONSENSUS:
          result.discr(i, j) =
              n == 0 ? undefined_char : lookup_code(char_set(group_string));
          break;
        case formula_type::MODUS:
          result.discr(i, j) =
              n == 0 ? undefined_char
                     : lookup_code(char_set(modal_values(group_string)));
          break;
        case formula_type::ENTROPY:
          result.quant(i, j) =
              n >= 2 ? entropy(group_string) / max_ent[n - 1] : undefined_real;
          break;
        case formula_type::FREQUENCIES:
          for (char s : states) {
            ++column;
            result.quant(i, column) =
                n == 0 ? undefined_real
                       : static_cast<float>(std::count(group_string.begin(),
                                                       group_string.end(), s)) /
                             static_cast<float>(n);
          }
          break;
        case formula_type::GROUP_SIZE:
          break;
      }
    }
  }
}

}  // namespace detail

void get_group_chars(char_mat_type& result, const char_mat_type& chars,
                     const numeric_host_maps& hosts,
                     const char_set& valid_states, bool modal_only) {
  const formula_type formula =
      choose_formula(result, chars, valid_states, modal_only);
  if (formula == formula_type::GROUP_SIZE ||
      static_cast<std::size_t>(valid_states.size()) > site_counter::max_states) {
    detail::fill_rows_plain(result, chars, hosts, valid_states, modal_only);
    return;
  }
  ent_val_type max_ent;
  if (formula == formula_type::ENTROPY) {
    max_ent.resize(static_cast<std::size_t>(chars.ntax()));
    max_entropy(max_ent, valid_states);
  }
  // Labels and row comments first, so that a map shorter than the result
  // fails where the plain walk would, after the rows it could fill.
  std::int32_t rows = 0;
  for (auto host = hosts.begin(); rows < result.ntax(); ++host) {
    if (host == hosts.end()) break;
    ++rows;
    result.labels(rows) = host->first;
    result.comments(rows) =
        integer_image(static_cast<std::int64_t>(host->second.size()));
  }
  if (rows < result.ntax()) {
    // Fill what exists, then fail as the walk past the last host does.
    detail::fill_rows_plain(result, chars, hosts, valid_states, modal_only);
    return;
  }
  fill_rows_fast(result, chars, hosts, valid_states, formula, max_ent);
}

// ---------------------------------------------------------------------------
// Host-wise distances.

namespace {

// The associates of one host as rows of D, ascending.
using dist_rows = std::vector<std::int32_t>;

void check_rows(const dist_rows& rows, const dist_mat_type& D) {
  if (rows.empty()) return;
  const std::int32_t bad = rows.front() < 1 ? rows.front() : rows.back();
  if (bad < 1 || bad > D.ntax())
    throw constraint_error("index check failed",
                           "taxon number " + std::to_string(bad) +
                               " outside 1.." + std::to_string(D.ntax()) +
                               " of the associate distance matrix");
}

// Sums and means must stay finite: one overflowing step ends the run
// instead of turning every later distance into infinity.
float checked(float v, const char* what) {
  if (!(v >= 0.0f && v <= max_float))
    throw range_error(std::string(what) + " beyond 3.40282347E+38");
  return v;
}

// Distance from row a to its nearest neighbour among `others`.
float nearest(const positive_matrix& d, std::int32_t a,
              const dist_rows& others) {
  float m = max_float;
  for (const std::int32_t b : others)
    if (d(a, b) < m) m = d(a, b);
  return m;
}

float group_distance(const dist_mat_type& D, const dist_rows& A,
                     const dist_rows& B, dist_func_type rule) {
  check_rows(A, D);
  check_rows(B, D);
  const positive_matrix& d = D.distances;
  switch (rule) {
    case dist_func_type::MIN: {
      float m = max_float;
      for (const std::int32_t a : A) m = std::min(m, nearest(d, a, B));
      return m;
    }
    case dist_func_type::MEAN: {
      float sum = 0.0f;
      for (const std::int32_t a : A)
        for (const std::int32_t b : B)
          sum = checked(sum + d(a, b), "sum of distances");
      const auto pairs = static_cast<float>(A.size() * B.size());
      return checked(sum / pairs, "mean distance");
    }
    case dist_func_type::MAX: {
      float x = 0.0f;
      for (const std::int32_t a : A)
        for (const std::int32_t b : B)
          if (d(a, b) > x) x = d(a, b);
      return x;
    }
    case dist_func_type::PBC: {
      float sum = 0.0f;
      for (const std::int32_t a : A)
        sum = checked(sum + nearest(d, a, B), "sum of distances");
      for (const std::int32_t b : B)
        sum = checked(sum + nearest(d, b, A), "sum of distances");
      const auto count = static_cast<float>(A.size() + B.size());
      return checked(sum / count, "mean distance");
    }
  }
  return 0.0f;
}

}  // namespace

void get_pbc(dist_mat_type& R, const dist_mat_type& D,
             const numeric_host_maps& hosts, dist_func_type rule) {
  const std::int32_t n = R.ntax();
  // Every set is read once per pair of hosts: copy the ones in use to
  // vectors first.
  std::vector<const std::string*> labels;
  std::vector<dist_rows> rows;
  for (auto it = hosts.begin();
       it != hosts.end() && static_cast<std::int32_t>(rows.size()) < n; ++it) {
    labels.push_back(&it->first);
    rows.emplace_back(it->second.begin(), it->second.end());
  }
  const auto available = static_cast<std::int32_t>(rows.size());
  auto host = [&](std::int32_t k) -> const dist_rows& {
    if (k > available)
      throw constraint_error(
          "Position cursor of function Key equals No_Element",
          "the host map holds " + std::to_string(available) +
              " hosts, the host distance matrix " + std::to_string(n));
    return rows[static_cast<std::size_t>(k - 1)];
  };
  const bool self_distance =
      rule == dist_func_type::MEAN || rule == dist_func_type::MAX;
  for (std::int32_t i = 1; i <= n; ++i) {
    const dist_rows& a = host(i);
    R.labels(i) = *labels[static_cast<std::size_t>(i - 1)];
    R.distances.set(i, i, self_distance ? group_distance(D, a, a, rule) : 0.0f);
    for (std::int32_t j = i + 1; j <= n; ++j) {
      const float v = group_distance(D, a, host(j), rule);
      R.distances.set(i, j, v);
      R.distances.set(j, i, v);
    }
  }
}

// ---------------------------------------------------------------------------
// Name-keyed host maps.

void to_taxon_set(sets::ordered_taxa& set, const ordered_assocs& assocs,
                  assoc_part part) {
  for (const association& a : assocs)
    set.insert(part == assoc_part::HOST ? a.host : a.para);
}

void to_host_map(host_maps& map, const ordered_assocs& assocs) {
  for (const association& a : assocs) map[a.host].insert(a.para);
}

void filter(sets::ordered_taxa& host_set, host_maps& map,
            std::int32_t minimum, text_output& err) {
  for (auto it = host_set.begin(); it != host_set.end();) {
    const auto entry = map.find(*it);
    if (entry == map.end())
      throw constraint_error(key_not_in_map_msg,
                             "host \"" + *it + "\" is not in the host map");
    if (static_cast<std::int64_t>(entry->second.size()) >= minimum) {
      ++it;
      continue;
    }
    err.put_line("WARNING: Removing host " + *it +
                 " (# associates below threshold)");
    map.erase(entry);
    it = host_set.erase(it);
  }
}

}  // namespace zurud::hostpara
