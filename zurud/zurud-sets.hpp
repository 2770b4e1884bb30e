// Taxon collections and nucleotide codes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "zurud/zurud.hpp"

namespace zurud::sets {

/// String hash: h := rotl(h, 3) + code over the bytes, 32-bit wrapping; ""
/// hashes to 0.
std::uint32_t string_hash(std::string_view s) noexcept;

struct label_hash {
  using is_transparent = void;
  std::size_t operator()(std::string_view label) const noexcept {
    return string_hash(label);
  }
};

/// Hash of a character set: string_hash of its members in code order.
std::uint32_t id_charset(const char_set& set) noexcept;

struct charset_hash {
  std::size_t operator()(const char_set& set) const noexcept {
    return id_charset(set);
  }
};

/// Label -> taxon number (row). Keys compare exactly: "Ab" != "ab" != "ab ".
using taxon_maps =
    std::unordered_map<std::string, std::int32_t, label_hash, std::equal_to<>>;
/// Hashed set of labels.
using taxon_sets = std::unordered_set<std::string, label_hash, std::equal_to<>>;
/// Labels in byte order (unsigned codes, a proper prefix first): "B" < "a",
/// and Latin-1 letters after "z".
using ordered_taxa = std::set<std::string, std::less<>>;
/// Taxon numbers, ascending.
using ordered_tax_nos = std::set<std::int32_t>;
/// Character set -> one character (the nucleotide codes).
using charset_maps = std::unordered_map<char_set, char, charset_hash>;

/// Enters labels(i) -> i for every i of the array, first to last. Does not
/// clear `map`. range_error for an index outside 1..5000; constraint_error
/// "attempt to insert key already in map" for a label met before (its detail
/// names the label and both rows); entries made before a failure stay.
void to_taxon_map(const tax_lab_type& labels, taxon_maps& map);
/// Enters every label into the set; constraint_error "attempt to insert
/// element already in set" for a repeated one.
void to_taxon_set(const tax_lab_type& labels, taxon_sets& set);
/// As to_taxon_set, into an ordered set.
void to_ordered_taxa(const tax_lab_type& labels, ordered_taxa& set);

/// The 31 lower-case nucleotide ambiguity codes: every non-empty subset of
/// a, c, g, t and "-" (one base with the gap gives the base, two or more
/// bases with the gap give "?", the gap alone "-").
charset_maps get_nuc_amb();

}  // namespace zurud::sets
