// Generated benchmark data: an associate matrix in extended PHYLIP layout and
// its association file, both deterministic by seed.
//
// The sequences evolve down a random tree, so they look like an alignment
// rather than noise: most sites never change, a minority changes now and
// then and a few change fast; deletions leave runs of gaps that relatives
// share; rows have "?" at ragged ends, rare ambiguity letters, and come in
// upper, lower or mixed case. Hosts have skewed group sizes (a few large
// groups, many of one or two associates), relatives tend to share a host and
// some associates live on two.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zurud/zurud.hpp"

namespace zurud::bench {

/// The shape of one data set, and its states: "dna" (ACGT), "rna" (ACGU),
/// "protein" (the twenty amino acids), "standard" (0-9) or "binary" (0 and
/// 1). The same seed gives the same tree, gaps, labels and hosts whatever
/// the states.
struct preset_type {
  std::string name;
  std::int32_t ntax;
  std::int32_t nchar;
  std::int32_t nhosts;
  std::string alphabet = "dna";
  /// Written as FASTA (a header line, then the sites in lines of 60), as
  /// aligners write alignments of many sequences; else extended PHYLIP.
  bool fasta = false;
};

/// small (100 x 1000, 20 hosts), medium (1000 x 100000, 150 hosts), half
/// (1000 x 50000, 150 hosts), large (4000 x 250000, 600 hosts), wide (200 x
/// 1048576, 30 hosts); as FASTA, many (100000 x 10000, 2000 hosts, about 1
/// GB) and many4 (400000 x 10000, 8000 hosts) for the run at scale.
const std::vector<preset_type>& presets();
/// The preset of that name, and "NAME-STATES" for a preset with other
/// states ("medium-protein"); nothing when there is none.
std::optional<preset_type> find_preset(std::string_view name);
/// The option of karvo that reads a preset's states ("-a protein"), empty
/// for nucleotides.
std::string alphabet_option(const preset_type& preset);

/// A small, fast, portable generator (xoshiro256**, seeded by splitmix64):
/// the same seed gives the same data on every machine.
class random_type {
 public:
  explicit random_type(std::uint64_t seed);
  std::uint64_t next();
  /// Uniform in 0..n-1; n > 0.
  std::uint64_t below(std::uint64_t n) { return next() % n; }
  /// Uniform in [0, 1).
  double unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }
  bool chance(double p) { return unit() < p; }

 private:
  std::uint64_t s_[4];
};

/// Writes the matrix (header line, one row per associate) to `matrix` and
/// the associate-host pairs to `assocs`. ntax 1..2^31 - 1, nchar
/// 1..1048576, nhosts 1..ntax.
void generate(const preset_type& shape, std::uint64_t seed, text_output& matrix,
              text_output& assocs);

}  // namespace zurud::bench
