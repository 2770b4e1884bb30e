#include "zurud/zurud-sets.hpp"

#include <bit>

namespace zurud::sets {

std::uint32_t string_hash(std::string_view s) noexcept {
  std::uint32_t h = 0;
  for (char c : s) h = std::rotl(h, 3) + static_cast<unsigned char>(c);
  return h;
}

std::uint32_t id_charset(const char_set& set) noexcept {
  std::uint32_t h = 0;
  for (unsigned c = 0; c < 256; ++c)
    if (set.contains(static_cast<unsigned char>(c))) h = std::rotl(h, 3) + c;
  return h;
}

void to_taxon_map(const tax_lab_type& labels, taxon_maps& map) {
  for (std::int32_t i = labels.first(); i <= labels.last(); ++i) {
    if (i < 1 || i > max_taxa)
      throw range_error("taxon number " + std::to_string(i) +
                        " outside 1..5000");
    const auto [at, fresh] = map.try_emplace(labels(i), i);
    if (!fresh)
      throw constraint_error(key_in_map_msg,
                             "label \"" + labels(i) + "\" occurs in rows " +
                                 std::to_string(at->second) + " and " +
                                 std::to_string(i));
  }
}

namespace {
template <typename Set>
void insert_all(const tax_lab_type& labels, Set& set) {
  for (std::int32_t i = labels.first(); i <= labels.last(); ++i)
    if (!set.insert(labels(i)).second)
      throw constraint_error(element_in_set_msg,
                             "label \"" + labels(i) + "\" occurs twice");
}
}  // namespace

void to_taxon_set(const tax_lab_type& labels, taxon_sets& set) {
  insert_all(labels, set);
}

void to_ordered_taxa(const tax_lab_type& labels, ordered_taxa& set) {
  insert_all(labels, set);
}

charset_maps get_nuc_amb() {
  static constexpr struct {
    const char* key;
    char code;
  } table[] = {
      {"a", 'a'},     {"g", 'g'},     {"c", 'c'},      {"t", 't'},
      {"-", '-'},     {"ag", 'r'},    {"ct", 'y'},     {"ac", 'm'},
      {"gt", 'k'},    {"cg", 's'},    {"at", 'w'},     {"act", 'h'},
      {"cgt", 'b'},   {"acg", 'v'},   {"agt", 'd'},    {"acgt", 'n'},
      {"a-", 'a'},    {"g-", 'g'},    {"c-", 'c'},     {"t-", 't'},
      {"ag-", '?'},   {"ct-", '?'},   {"ac-", '?'},    {"gt-", '?'},
      {"cg-", '?'},   {"at-", '?'},   {"act-", '?'},   {"cgt-", '?'},
      {"acg-", '?'},  {"agt-", '?'},  {"acgt-", '?'},
  };
  charset_maps map;
  for (const auto& row : table)
    if (!map.emplace(char_set(row.key), row.code).second)
      throw constraint_error(key_in_map_msg);
  return map;
}

}  // namespace zurud::sets
