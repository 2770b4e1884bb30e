#include "bench/data.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

namespace zurud::bench {

const std::vector<preset_type>& presets() {
  static const std::vector<preset_type> all = {
      {"small", 100, 1000, 20},
      {"medium", 1000, 100000, 150},
      // Medium with half its sites: the widest whose protein frequencies
      // fit the 1048576 columns of a matrix.
      {"half", 1000, 50000, 150},
      {"large", 4000, 250000, 600},
      {"wide", 200, 1048576, 30},
      // Amplicons or genomes by the hundred thousand, grouped by host, as
      // aligners write them; the second four times the first, for the
      // scaling.
      {"many", 100000, 10000, 2000, "dna", true},
      {"many4", 400000, 10000, 8000, "dna", true},
  };
  return all;
}

namespace {

// The states of each alphabet, in upper case, and their ambiguity symbols
// (nucleotide callers mostly write N; protein ones X).
struct states_type {
  const char* name;
  std::string_view states;
  std::string_view ambiguity;
};
constexpr states_type alphabets[] = {
    {"dna", "ACGT", "NNNNNRYRYKMSWBDHV"},
    {"rna", "ACGU", "NNNNNRYRYKMSWBDHV"},
    {"protein", "ACDEFGHIKLMNPQRSTVWY", "XXXXXXBZJ"},
    {"standard", "0123456789", "?"},
    {"binary", "01", "?"},
};

const states_type* find_states(std::string_view name) {
  for (const states_type& a : alphabets)
    if (name == a.name) return &a;
  return nullptr;
}

}  // namespace

std::optional<preset_type> find_preset(std::string_view name) {
  const std::size_t dash = name.find('-');
  const std::string_view base = name.substr(0, dash);
  for (preset_type p : presets()) {
    if (p.name != base) continue;
    if (dash == std::string_view::npos) return p;
    const states_type* a = find_states(name.substr(dash + 1));
    if (a == nullptr || a->name == std::string_view("dna")) return std::nullopt;
    p.name = std::string(name);
    p.alphabet = a->name;
    return p;
  }
  return std::nullopt;
}

std::string alphabet_option(const preset_type& preset) {
  if (preset.alphabet == "protein") return "-a protein";
  if (preset.alphabet == "standard" || preset.alphabet == "binary")
    return "-a standard";
  return {};
}

random_type::random_type(std::uint64_t seed) {
  for (std::uint64_t& s : s_) {
    seed += 0x9E3779B97F4A7C15u;
    std::uint64_t z = seed;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    s = z ^ (z >> 31);
  }
}

std::uint64_t random_type::next() {
  auto rotl = [](std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); };
  const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
  const std::uint64_t t = s_[1] << 17;
  s_[2] ^= s_[0];
  s_[3] ^= s_[1];
  s_[1] ^= s_[2];
  s_[0] ^= s_[3];
  s_[2] ^= t;
  s_[3] = rotl(s_[3], 45);
  return result;
}

namespace {

// Per-site probabilities of the three rate classes, and their rates.
constexpr double constant_share = 0.70;
constexpr double slow_share = 0.25;
constexpr double slow_rate = 1.0;
constexpr double fast_rate = 6.0;
// Deletion events per site and unit of branch length; mean run length.
constexpr double deletion_rate = 2e-3;
constexpr double deletion_length = 12.0;
constexpr double ambiguity_rate = 3e-4;

// Calls visit(k) for each index k in 0..n-1 chosen independently with
// probability p, skipping geometrically between them so the cost follows the
// number chosen, not n.
template <typename Visit>
void each_chosen(random_type& rng, std::size_t n, double p, Visit visit) {
  if (p <= 0.0 || n == 0) return;
  if (p >= 1.0) {
    for (std::size_t k = 0; k < n; ++k) visit(k);
    return;
  }
  const double log_q = std::log1p(-p);
  std::size_t k = 0;
  for (;;) {
    const double skip = std::floor(std::log1p(-rng.unit()) / log_q);
    if (skip >= static_cast<double>(n - k)) return;
    k += static_cast<std::size_t>(skip);
    visit(k);
    if (++k >= n) return;
  }
}

std::string pronounceable(random_type& rng, int letters, bool capital) {
  static constexpr std::string_view consonants = "bcdfghklmnprstvz";
  static constexpr std::string_view vowels = "aeiou";
  std::string s;
  for (int i = 0; i < letters; ++i)
    s += i % 2 == 0 ? consonants[rng.below(consonants.size())]
                    : vowels[rng.below(vowels.size())];
  if (capital) s[0] = static_cast<char>(s[0] - 'a' + 'A');
  return s;
}

std::string base36(std::uint64_t v, int width) {
  static constexpr std::string_view digits =
      "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string s(static_cast<std::size_t>(width), '0');
  for (int i = width - 1; i >= 0 && v > 0; --i, v /= 36)
    s[static_cast<std::size_t>(i)] = digits[v % 36];
  return s;
}

class matrix_writer {
 public:
  matrix_writer(const preset_type& shape, random_type& rng, text_output& out)
      : shape_(shape),
        rng_(rng),
        out_(out),
        nchar_(static_cast<std::size_t>(shape.nchar)) {
    const states_type* a = find_states(shape.alphabet);
    if (a == nullptr)
      throw std::invalid_argument("unknown states " + shape.alphabet);
    states_ = a->states;
    ambiguity_ = a->ambiguity;
    for (std::size_t s = 0; s < states_.size(); ++s)
      index_[static_cast<unsigned char>(states_[s])] = s;
    for (std::size_t j = 0; j < nchar_; ++j) {
      const double u = rng_.unit();
      if (u < constant_share) continue;
      (u < constant_share + slow_share ? slow_sites_ : fast_sites_)
          .push_back(j);
    }
  }

  // Evolves the whole tree and writes one row per leaf, in the tree's
  // depth-first order: neighbouring rows are relatives.
  void run() {
    // Nucleotides AT-rich as most genomes are; other states evenly.
    std::string root(nchar_, 'A');
    const std::size_t k = states_.size();
    for (char& c : root) {
      const double u = rng_.unit();
      c = k == 4
              ? states_[u < 0.3   ? 0
                        : u < 0.5 ? 1
                        : u < 0.7 ? 2
                                  : 3]
              : states_[static_cast<std::size_t>(u * static_cast<double>(k))];
    }
    path_.push_back(std::move(root));
    evolve(0, shape_.ntax, pronounceable(rng_, 4, true));
  }

  const std::vector<std::string>& labels() const { return labels_; }

 private:
  void mutate(std::string& seq, const std::vector<std::size_t>& sites,
              double rate, double length) {
    each_chosen(rng_, sites.size(), 1.0 - std::exp(-rate * length),
                [&](std::size_t k) {
                  char& c = seq[sites[k]];
                  if (c == '-') return;
                  const std::size_t n = states_.size();
                  c = states_[(index_[static_cast<unsigned char>(c)] + 1 +
                               rng_.below(n - 1)) %
                              n];
                });
  }

  void delete_runs(std::string& seq, double length) {
    each_chosen(rng_, nchar_, deletion_rate * length, [&](std::size_t j) {
      const double u = rng_.unit();
      const auto run = 1 + static_cast<std::size_t>(
                               std::floor(-std::log1p(-u) * deletion_length));
      std::fill_n(seq.begin() + static_cast<std::ptrdiff_t>(j),
                  std::min(run, nchar_ - j), '-');
    });
  }

  // A subtree of `leaves` leaves hanging below path_[depth]. Small clades
  // get a genus of their own, which their labels carry.
  void evolve(std::size_t depth, std::int32_t leaves,
              const std::string& genus) {
    if (path_.size() <= depth + 1) path_.emplace_back();
    std::string& seq = path_[depth + 1];
    seq = path_[depth];
    const double length = 0.005 + 0.045 * rng_.unit();
    mutate(seq, slow_sites_, slow_rate, length);
    mutate(seq, fast_sites_, fast_rate, length);
    delete_runs(seq, length);
    if (leaves == 1) {
      write_row(seq, genus);
      return;
    }
    const auto left = 1 + static_cast<std::int32_t>(rng_.below(
                              static_cast<std::uint64_t>(leaves - 1)));
    for (const std::int32_t part : {left, leaves - left}) {
      const bool new_genus = part <= 24 && leaves > 24;
      evolve(depth + 1, part, new_genus ? pronounceable(rng_, 4, true) : genus);
    }
  }

  void write_row(const std::string& seq, const std::string& genus) {
    row_ = seq;
    // Ragged ends: sequencing stopped early on some rows.
    for (const bool front : {true, false}) {
      if (!rng_.chance(0.6)) continue;
      const std::size_t n = rng_.below(nchar_ / 40 + 1);
      if (front)
        std::fill_n(row_.begin(), n, '?');
      else
        std::fill_n(row_.end() - static_cast<std::ptrdiff_t>(n), n, '?');
    }
    each_chosen(rng_, nchar_, ambiguity_rate, [&](std::size_t j) {
      if (row_[j] != '?') row_[j] = ambiguity_[rng_.below(ambiguity_.size())];
    });
    const double style = rng_.unit();
    if (style >= 0.45) {
      // Lower case throughout, or lower-case stretches (soft-masked
      // regions) in an upper-case row.
      const bool mixed = style >= 0.9;
      std::size_t j = 0;
      bool lower = !mixed;
      while (j < nchar_) {
        const std::size_t span =
            mixed ? 1 + rng_.below(nchar_ / 10 + 1) : nchar_;
        const std::size_t end = std::min(nchar_, j + span);
        if (lower)
          for (; j < end; ++j)
            if (row_[j] >= 'A' && row_[j] <= 'Z') row_[j] += 'a' - 'A';
        j = end;
        lower = !lower;
      }
    }

    std::string label =
        genus + "_" + base36(static_cast<std::uint64_t>(labels_.size()), 5);
    if (shape_.fasta) {
      out_.put('>');
      out_.put(label);
      out_.put('\n');
      for (std::size_t j = 0; j < nchar_; j += 60) {
        out_.put(std::string_view(row_).substr(j, 60));
        out_.put('\n');
      }
      labels_.push_back(std::move(label));
      return;
    }
    out_.put(label);
    labels_.push_back(std::move(label));
    const std::uint64_t sep = rng_.below(4);
    out_.put(sep == 0 ? std::string_view("\t")
                      : std::string_view("   ").substr(0, sep));
    const double layout = rng_.unit();
    const std::string_view cells(row_);
    if (layout < 0.94) {
      out_.put(cells);
    } else {
      // The interleaved look of older files: blocks of ten, and in half of
      // these rows six blocks to a line.
      const bool wrapped = layout >= 0.97;
      for (std::size_t j = 0; j < nchar_; j += 10) {
        if (j > 0) out_.put(wrapped && j % 60 == 0 ? '\n' : ' ');
        out_.put(cells.substr(j, 10));
      }
    }
    out_.put('\n');
  }

  const preset_type& shape_;
  random_type& rng_;
  text_output& out_;
  std::size_t nchar_;
  std::string_view states_, ambiguity_;
  std::array<std::size_t, 256> index_{};  // a state's place in states_
  std::vector<std::size_t> slow_sites_, fast_sites_;
  std::vector<std::string> path_;
  std::string row_;
  std::vector<std::string> labels_;
};

// Group sizes fall off as a power of the rank: a few large groups and a
// long tail of one or two associates.
std::vector<std::int32_t> group_sizes(std::int32_t ntax, std::int32_t nhosts) {
  std::vector<double> weight(static_cast<std::size_t>(nhosts));
  double total = 0.0;
  for (std::size_t h = 0; h < weight.size(); ++h)
    total += weight[h] = std::pow(static_cast<double>(h + 1), -1.3);
  std::vector<std::int32_t> size(weight.size());
  std::int64_t sum = 0;
  for (std::size_t h = 0; h < size.size(); ++h) {
    size[h] = std::max<std::int32_t>(
        1, static_cast<std::int32_t>(ntax * weight[h] / total));
    sum += size[h];
  }
  // Settle the rounding on the largest groups.
  for (std::size_t h = 0; sum != ntax; h = (h + 1) % size.size()) {
    if (sum < ntax) {
      ++size[h];
      ++sum;
    } else if (size[h] > 1) {
      --size[h];
      --sum;
    }
  }
  return size;
}

void write_assocs(const std::vector<std::string>& labels, std::int32_t nhosts,
                  random_type& rng, text_output& out) {
  const auto ntax = static_cast<std::int32_t>(labels.size());
  nhosts = std::clamp(nhosts, 1, ntax);
  std::vector<std::string> hosts;
  for (std::int32_t h = 0; h < nhosts; ++h)
    hosts.push_back("H" + pronounceable(rng, 4, false) + "_" +
                    base36(static_cast<std::uint64_t>(h), 3));
  // Consecutive rows (a clade) go to one host, hosts in random order along
  // the tree, so relatives share hosts.
  std::vector<std::int32_t> sizes = group_sizes(ntax, nhosts);
  for (std::size_t h = sizes.size(); h > 1; --h)
    std::swap(sizes[h - 1], sizes[rng.below(h)]);
  std::vector<std::int32_t> host_of(static_cast<std::size_t>(ntax));
  std::size_t row = 0;
  for (std::size_t h = 0; h < sizes.size(); ++h)
    for (std::int32_t k = 0; k < sizes[h]; ++k)
      host_of[row++] = static_cast<std::int32_t>(h);

  std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
  for (std::int32_t i = 0; i < ntax; ++i) {
    std::int32_t host = host_of[static_cast<std::size_t>(i)];
    if (rng.chance(0.08))  // a host switch
      host = static_cast<std::int32_t>(
          rng.below(static_cast<std::uint64_t>(nhosts)));
    pairs.emplace_back(i, host);
    if (nhosts > 1 && rng.chance(0.05)) {
      // A second host, usually that of a near relative.
      const auto near = std::clamp<std::int64_t>(
          i + static_cast<std::int64_t>(rng.below(41)) - 20, 0, ntax - 1);
      std::int32_t second = host_of[static_cast<std::size_t>(near)];
      if (second == host)
        second = static_cast<std::int32_t>(
            (host + 1 + rng.below(static_cast<std::uint64_t>(nhosts - 1))) %
            nhosts);
      pairs.emplace_back(i, second);
    }
  }
  for (std::size_t k = pairs.size(); k > 1; --k)
    std::swap(pairs[k - 1], pairs[rng.below(k)]);
  for (const auto& [i, h] : pairs) {
    out.put(labels[static_cast<std::size_t>(i)]);
    out.put(rng.chance(0.8) ? '\t' : ' ');
    out.put_line(hosts[static_cast<std::size_t>(h)]);
  }
}

}  // namespace

void generate(const preset_type& shape, std::uint64_t seed, text_output& matrix,
              text_output& assocs) {
  if (shape.ntax < 1 || shape.nchar < 1 || shape.nchar > max_chars ||
      shape.nhosts < 1)
    throw std::invalid_argument("shape outside 1.. x 1..1048576");
  random_type rng(seed);
  if (!shape.fasta)
    matrix.put(std::to_string(shape.ntax) + " " +
               std::to_string(shape.nchar) + "\n");
  matrix_writer rows(shape, rng, matrix);
  rows.run();
  write_assocs(rows.labels(), shape.nhosts, rng, assocs);
  matrix.flush();
  assocs.flush();
}

}  // namespace zurud::bench
