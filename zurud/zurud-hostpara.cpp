#include "zurud/zurud-hostpara.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "zurud/detail/hostpara-kernels.hpp"

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

namespace detail {

// The logarithm is taken in extended precision so that its rounding to float
// is the correctly rounded value.
float entropy_term(std::int64_t c, std::int64_t n) {
  const float p = static_cast<float>(c) / static_cast<float>(n);
  const float ln = static_cast<float>(std::log(static_cast<long double>(p)));
  return ln * p;
}

}  // namespace detail

namespace {

using detail::entropy_term;

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
