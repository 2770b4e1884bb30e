// The run's side of reading the data file: what the rows say of their
// alphabet, and the host rows folded while the rows are read. Used by the
// run only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "zurud/detail/assoc-table.hpp"
#include "zurud/zurud-hostpara.hpp"
#include "zurud/zurud-read.hpp"
#include "zurud/zurud-sets.hpp"

namespace zurud::hostpara::detail {

/// The host rows folded while the data file is read, when the association
/// file could be read first: the associate matrix is then never stored. Only
/// hosts with enough associations to pass the filter get accumulators; a run
/// that goes on to write them has found every associate of those hosts in
/// the matrix, once each, so their accumulators hold exactly their groups. A
/// run that does not fails before writing anything.
///
/// Rows are folded on the reading thread: handing them to another processor
/// moves every row between caches, which costs more than the folding.
class host_folder final : public zurud::read::row_sink {
 public:
  /// Folds the rows of the hosts of at least `min_group_size` associations
  /// of `pairs` (resolved without labels: no pair twice); `trim` matches
  /// PHYLIP labels without their padding blanks. Keeps no view of `pairs`.
  host_folder(std::span<const resolved_pair> pairs, std::int32_t min_group_size,
              bool trim, const analysis_type& analysis);

  bool accept(std::int32_t ntax, std::int32_t nchar) override;
  char* row_memory() override { return rows_[kept_].get(); }
  void take(std::int32_t row, const std::string& label, char* cells) override;
  std::span<std::uint8_t> fresh_memory() override;

  /// Folds the rows still kept back.
  void finish();
  /// Once the rows are read: finish(), then the rows whose label matched an
  /// associate only with "_" and blank taken as the same are folded, unless
  /// a row of that very label came too (an exact label wins).
  void finish_rows();
  /// The folded rows, when the rows were taken.
  const group_folds* folds() const {
    return folds_ ? &*folds_ : nullptr;
  }
  const zurud::alphabet_sample& sample() const { return *sample_; }
  /// For each host of `hosts` (the groups as resolved and filtered, which
  /// are among those folded, and hold exactly the rows folded into them),
  /// its host in folds(). std::logic_error for a host not folded.
  std::vector<std::size_t> fold_hosts(const numeric_host_maps& hosts) const;
  /// Once the rows are read: for each pair the folder was made of, the row
  /// whose label (as matched, padding off) named its associate exactly, or
  /// 0 (no such row, or a host not folded). Resolving with the labels takes
  /// these rows instead of looking each name up again.
  std::vector<std::int32_t> pair_rows() const;
  /// Once the rows are read and pair_rows() taken: frees the associates'
  /// names and index, which nothing after the rows needs.
  void release_associates();

 private:
  // An associate: its name in names_, its hosts in hosts_of_[first ..
  // first + count).
  struct associate {
    std::size_t at = 0;
    std::uint32_t size = 0;
    std::uint32_t first = 0, count = 0;
    std::int32_t row = 0;  // the row that named it exactly
    bool folded = false;
  };
  std::string_view name_of(const associate& a) const {
    return std::string_view(names_).substr(a.at, a.size);
  }
  std::span<const std::uint32_t> hosts_of(const associate& a) const {
    return {hosts_of_.data() + a.first, a.count};
  }
  std::uint32_t find(std::string_view name) const;
  void fold_row(associate& a, char* cells, std::size_t at);
  void make_loose();
  static constexpr std::size_t kept_rows =
      group_folds::rows_at_once;

  analysis_type analysis_;
  bool trim_;
  std::vector<std::string> hosts_;  // hosts folded, in label order
  std::vector<std::size_t> sizes_;  // their associations
  // The associates by name, one arena of names and one flat index.
  std::string names_;
  std::vector<associate> associates_;
  std::vector<std::uint32_t> hosts_of_;
  flat_index of_associate_;
  std::vector<std::uint32_t> pair_associate_;  // flat_index::none: none
  std::optional<group_folds> folds_;
  std::optional<zurud::alphabet_sample> sample_;
  // Rows of one host that follow each other (neighbouring associates often
  // share their host) are kept back in rows_[0 .. kept_), all of host
  // kept_host_, and folded together; the next row is read into
  // rows_[kept_].
  std::unique_ptr<char[]> rows_[kept_rows + 1];
  std::size_t kept_ = 0;
  std::uint32_t kept_host_ = 0;
  // Associates whose names hold "_" or a blank, by their names with "_" as
  // blank, when no other associate shares that form; and the rows that
  // matched only so, kept until the end.
  std::string loose_names_;
  struct loose_name {
    std::size_t at = 0;  // in loose_names_
    std::uint32_t size = 0, associate = 0;
  };
  std::vector<loose_name> loose_;
  flat_index loose_index_;
  std::vector<std::pair<std::uint32_t, std::unique_ptr<char[]>>> loose_rows_;
  bool loose_made_ = false;
  std::size_t nchar_ = 0;
};

}  // namespace zurud::hostpara::detail
