// Alphabets of discrete characters: the states a cell can take, how an input
// byte becomes a state, and the code that stands for a set of states.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "zurud/zurud.hpp"

namespace zurud {

/// The kinds of alphabet, in the order of their literals.
enum class alphabet_kind_type : std::uint8_t { DNA };

/// A set of an alphabet's states: bit i for its state i (in code order of
/// the states as cells hold them), gap_bit for the gap.
using state_set_type = std::uint32_t;

/// One alphabet, chosen once per run and read by everything that meets its
/// cells: the readers store each cell through cell_map(), the analyses count
/// the states() (and the gap when gaps are states), and a set of states met
/// becomes one code (code_of) that the writers write. A value that is cheap
/// to copy: copies share their tables.
///
/// DNA: the states a, c, g, t; readers store cells in lower case and u as t
/// (an RNA alignment's U sites count as the T sites of DNA); every other
/// symbol is missing data. The code of a set is its nucleotide ambiguity
/// code (get_nuc_amb).
///
/// The gap is a state only where an analysis says so. A set of the gap
/// alone has the code "-", the gap and one state that state's code, the gap
/// and several states "?"; the empty set (nothing counted) is "?".
class alphabet_type {
 public:
  /// The most states an alphabet has.
  static constexpr std::size_t max_states = 31;
  static constexpr state_set_type gap_bit = state_set_type{1} << 31;
  static constexpr char gap = '-';
  static constexpr char missing = '?';

  /// Nucleotides (DNA and RNA).
  static const alphabet_type& dna();

  alphabet_kind_type kind() const noexcept;
  /// The states in code order, as cells hold them ("acgt").
  const std::string& states() const noexcept;
  /// The valid states of an analysis: the states, and the gap with `gaps`
  /// (nuc_set and gapped_nuc_set for DNA).
  char_set valid_states(bool gaps) const;
  /// The mapping readers store cells through (site_map for DNA).
  const char_mapping& cell_map() const noexcept;
  /// The state that a stored cell is (its bit), gap_bit for the gap, 0 for
  /// missing data.
  state_set_type state_of(char cell) const noexcept;

  /// The code of a set of states: for one state its symbol, for several the
  /// alphabet's code of that set, with the gap as the class comment says;
  /// "?" for the empty set. 0 when the set has no code (DNA: none is
  /// missing).
  char code_of(state_set_type set) const noexcept;
  /// The same for a set of cells as stored; 0 when a member is neither a
  /// state nor the gap (the codes of nuc_amb for DNA, failing alike).
  char code_of(const char_set& set) const noexcept;

  /// The NEXUS DATATYPE that matrices of these cells declare
  /// ("nucleotide").
  std::string_view datatype() const noexcept;

  friend bool operator==(const alphabet_type& a,
                         const alphabet_type& b) noexcept;

 private:
  struct tables;
  explicit alphabet_type(std::shared_ptr<const tables> t) : t_(std::move(t)) {}
  std::shared_ptr<const tables> t_;
};

/// What a sample of cells says of their alphabet: each row gives its first
/// cells (at most 2^20 cells over all rows, but at least 64 a row), which
/// are counted as missing data ("?", "-", "."), nucleotide letters (a, c,
/// g, t, u, n in either case) or foreign. Other ambiguity letters are rare
/// in nucleotide data and common protein residues, so they count as
/// foreign.
class alphabet_sample {
 public:
  alphabet_sample(std::int32_t ntax, std::int32_t nchar);
  /// Counts the first cells of a row of nchar cells.
  void add(const char* row);
  /// Cells that are not missing data.
  std::int64_t counted() const noexcept { return counted_; }
  /// Of those, the cells that are not nucleotide letters.
  std::int64_t foreign() const noexcept { return foreign_; }

 private:
  std::size_t per_row_;
  std::int64_t counted_ = 0, foreign_ = 0;
};

}  // namespace zurud
