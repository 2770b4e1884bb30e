// Alphabets of discrete characters: the states a cell can take, how an input
// byte becomes a state, the code that stands for a set of states, and what a
// sample of cells says of their alphabet.
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
enum class alphabet_kind_type : std::uint8_t { DNA, PROTEIN, STANDARD };

/// A set of an alphabet's states: bit i for its state i (in code order of
/// the states as cells hold them), gap_bit for the gap.
using state_set_type = std::uint32_t;

/// A host cell whose code stands for several states of an alphabet that
/// writes them as a polymorphism ("{01}", standard characters): its place
/// among the cells it came with, and its states.
struct polymorphic_cell {
  std::size_t site;
  state_set_type states;
  friend bool operator==(const polymorphic_cell&,
                         const polymorphic_cell&) = default;
};

/// One alphabet, chosen once per run and read by everything that meets its
/// cells: the readers store each cell through cell_map(), the analyses count
/// the states() (and the gap when gaps are states), and a set of states met
/// becomes one code (code_of) that the writers write. A value that is cheap
/// to copy: copies share their tables.
///
/// DNA: the states a, c, g, t; readers store cells in lower case and u as t
/// (an RNA alignment's U sites count as the T sites of DNA); every other
/// symbol is missing data. The code of a set is its nucleotide ambiguity
/// code (get_nuc_amb), in lower case.
///
/// PROTEIN: the twenty amino acids ACDEFGHIKLMNPQRSTVWY, stored in lower
/// case; B, Z, J, X, U, O, "*" and every other symbol are missing data. The
/// code of one state is its upper-case letter; of {D, N} "B", of {E, Q}
/// "Z", of {I, L} "J", of any other set of several "X".
///
/// STANDARD: the symbols of a morphological matrix ("0" to "9", or those a
/// NEXUS file lists), stored in lower case and written as declared; "?" is
/// missing data and so is a polymorphism or uncertainty of the input ("{01}",
/// "(01)", which readers store as "?"). A set of several states is a
/// polymorphism: "{01}" where a layout can hold it (NEXUS), "?" as one byte.
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
  /// Amino acids.
  static const alphabet_type& protein();
  /// Standard characters with the states `symbols` (whitespace between them
  /// is passed over). format_error when there is none, more than 31, one
  /// that is not a printable ASCII character or is one of ?-{}()[];'" , or
  /// one that repeats another in either case.
  static alphabet_type standard(std::string_view symbols = "0123456789");
  /// The alphabet a user names ("dna", "protein" or "standard", in any
  /// case; `symbols` for standard, "0"-"9" when empty); nothing for any
  /// other name. format_error as standard() for bad symbols.
  static std::optional<alphabet_type> of_name(std::string_view name,
                                              std::string_view symbols = {});
  /// The alphabet a NEXUS DATATYPE declares, in any case: DNA, RNA and
  /// NUCLEOTIDE are dna, PROTEIN protein, STANDARD standard (the SYMBOLS
  /// given, "0"-"9" when none), RESTRICTION standard with "01"; nothing for
  /// MIXED, an empty or an unknown one. format_error as standard().
  static std::optional<alphabet_type> of_datatype(
      std::string_view datatype, std::string_view symbols = {});

  alphabet_kind_type kind() const noexcept;
  /// "dna", "protein" or "standard": the name of_name() takes.
  std::string_view name() const noexcept;
  /// The states in code order, as cells hold them ("acgt").
  const std::string& states() const noexcept;
  /// The valid states of an analysis: the states, and the gap with `gaps`
  /// (nuc_set and gapped_nuc_set for DNA).
  char_set valid_states(bool gaps) const;
  /// The mapping readers store cells through: lower case, and for DNA u as
  /// t (site_map).
  const char_mapping& cell_map() const noexcept;
  /// The state that a stored cell is (its bit), gap_bit for the gap, 0 for
  /// missing data.
  state_set_type state_of(char cell) const noexcept;

  /// The code of a set of states: for one state its symbol, for several the
  /// alphabet's code of that set, with the gap as the class comment says;
  /// "?" for the empty set. 0 when the set has no code (a bit beyond the
  /// states; for DNA every set of its states has one).
  char code_of(state_set_type set) const noexcept;
  /// The same for a set of cells as stored; 0 when a member is neither a
  /// state nor the gap (the codes of nuc_amb for DNA, failing alike).
  char code_of(const char_set& set) const noexcept;
  /// Whether a set is a polymorphism: several states of a standard
  /// alphabet, without the gap.
  bool polymorphic(state_set_type set) const noexcept;
  /// Whether sets of several states are polymorphisms (standard
  /// characters).
  bool writes_polymorphisms() const noexcept;
  /// A polymorphism as the NEXUS layouts write it: its states' symbols in
  /// braces ("{01}").
  std::string polymorphism(state_set_type set) const;

  /// The NEXUS DATATYPE that matrices of these cells declare ("nucleotide",
  /// "protein", "standard").
  std::string_view datatype() const noexcept;
  /// The symbols that a NEXUS matrix of standard characters declares, as
  /// given ("0123456789"); empty for the other alphabets, whose DATATYPE
  /// says them.
  const std::string& symbols() const noexcept;

  /// Same kind and states.
  friend bool operator==(const alphabet_type& a,
                         const alphabet_type& b) noexcept;

  struct tables;  // defined with the alphabets

 private:
  explicit alphabet_type(std::shared_ptr<const tables> t) : t_(std::move(t)) {}
  std::shared_ptr<const tables> t_;
};

/// What a sample of cells says of their alphabet: cells are counted as
/// missing data ("?", "-", "."), nucleotide letters (a, c, g, t, u, n in
/// either case), digits, or other symbols. Other ambiguity letters are rare
/// in nucleotide data and common protein residues, so they count as other
/// symbols. A sample of each row is enough to tell.
class alphabet_sample {
 public:
  /// Rows of nchar cells, of which add() counts the first 2^20 / ntax (at
  /// least 64, at most nchar).
  alphabet_sample(std::int32_t ntax, std::int32_t nchar);
  /// Counts the first cells of a row.
  void add(const char* row);
  /// Counts every cell of `cells` that is not whitespace.
  void add_cells(std::string_view cells);
  /// Cells that are not missing data.
  std::int64_t counted() const noexcept { return counted_; }
  /// Of those, the cells that are not nucleotide letters (digits included).
  std::int64_t foreign() const noexcept { return foreign_; }
  /// Of those, the digits.
  std::int64_t digits() const noexcept { return digits_; }
  /// STANDARD when most counted cells are digits, else PROTEIN when most
  /// are foreign, else (also when none was counted) DNA.
  alphabet_kind_type guess() const noexcept;

 private:
  std::size_t per_row_;
  std::int64_t counted_ = 0, foreign_ = 0, digits_ = 0;
};

}  // namespace zurud
