#include "zurud/detail/hostpara-run.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace zurud::hostpara::detail {

namespace {

// A name with "_" read as a blank: spreadsheets keep blanks where NEXUS and
// PHYLIP files write underscores.
std::string loose(std::string_view name) {
  std::string s(name);
  std::replace(s.begin(), s.end(), '_', ' ');
  return s;
}

}  // namespace

host_folder::host_folder(const ordered_assocs& assocs,
                         std::int32_t min_group_size, bool trim,
                         const analysis_type& analysis)
    : analysis_(analysis), trim_(trim) {
  for (auto a = assocs.begin(); a != assocs.end();) {
    auto b = a;
    std::int64_t n = 0;
    for (; b != assocs.end() && b->host == a->host; ++b) ++n;
    if (n >= min_group_size) {
      const auto h = static_cast<std::uint32_t>(hosts_.size());
      hosts_.push_back(a->host);
      sizes_.push_back(static_cast<std::size_t>(n));
      for (; a != b; ++a) of_associate_[a->para].hosts.push_back(h);
    }
    a = b;
  }
}

void host_folder::make_loose() {
  // Names whose "_"-as-blank form is theirs alone. Made at the first row
  // whose label no association names exactly: most files never need it.
  loose_made_ = true;
  std::unordered_map<std::string, int> uses;
  for (const auto& [name, a] : of_associate_) ++uses[loose(name)];
  for (auto& [name, a] : of_associate_) {
    std::string l = loose(name);
    if (uses[l] == 1) loose_.emplace(std::move(l), &a);
  }
}

bool host_folder::accept(std::int32_t ntax, std::int32_t nchar) {
  const auto cells =
      static_cast<std::size_t>(ntax) * static_cast<std::size_t>(nchar);
  // Folds that would take more memory than the cells themselves are not
  // worth it; a FASTA file (ntax 0) does not say how many rows come.
  if (!group_folds::can_fold(analysis_) ||
      (ntax > 0 && group_folds::bytes(analysis_, sizes_,
                                      static_cast<std::size_t>(nchar)) > cells))
    return false;
  folds_.emplace(analysis_, sizes_, static_cast<std::size_t>(nchar));
  nchar_ = static_cast<std::size_t>(nchar);
  // A FASTA file does not say its rows before they are read.
  sample_.emplace(ntax > 0 ? ntax : std::int32_t{1} << 20, nchar);
  for (auto& row : rows_)
    row = std::make_unique_for_overwrite<char[]>(
        static_cast<std::size_t>(nchar));
  return true;
}

void host_folder::take(std::int32_t, const std::string& label, char* cells) {
  sample_->add(cells);
  // PHYLIP names are matched without their padding, as in the plain order.
  const std::string_view name =
      trim_ ? std::string_view(label).substr(0, label.find_last_not_of(' ') + 1)
            : std::string_view(label);
  const std::size_t at = kept_;  // the buffer holding `cells`
  const auto it = of_associate_.find(name);
  if (it == of_associate_.end()) {
    // Possibly the same name written with "_" for blank: kept until the end,
    // when it is known whether a row of the very name came too.
    if (!loose_made_) make_loose();
    if (loose_.empty()) return;
    const auto l = loose_.find(loose(name));
    if (l == loose_.end() || l->second->folded) return;
    auto row = std::make_unique_for_overwrite<char[]>(nchar_);
    std::memcpy(row.get(), cells, nchar_);
    loose_rows_.emplace_back(l->second, std::move(row));
    return;
  }
  // A label met twice fails the run once the matrix is read; its second row
  // is not folded, so that no host outgrows its associations.
  if (it->second.folded) return;
  fold_row(it->second, cells, at);
}

void host_folder::fold_row(associate& a, char* cells, std::size_t at) {
  a.folded = true;
  const std::vector<std::uint32_t>& hosts = a.hosts;
  if (hosts.size() == 1 && kept_ > 0 && kept_host_ == hosts.front()) {
    if (++kept_ == kept_rows) finish();
    return;
  }
  finish();
  if (hosts.size() == 1) {
    std::swap(rows_[0], rows_[at]);
    kept_ = 1;
    kept_host_ = hosts.front();
    return;
  }
  for (const std::uint32_t h : hosts) folds_->fold(h, cells);
}

void host_folder::finish() {
  if (kept_ == 0) return;
  const char* rows[kept_rows];
  for (std::size_t r = 0; r < kept_; ++r) rows[r] = rows_[r].get();
  folds_->fold(kept_host_, {rows, kept_});
  kept_ = 0;
}

void host_folder::finish_rows() {
  if (!folds_) return;
  finish();
  for (auto& [a, row] : loose_rows_) {
    if (a->folded) continue;
    a->folded = true;
    for (const std::uint32_t h : a->hosts) folds_->fold(h, row.get());
  }
  loose_rows_.clear();
}

std::span<std::uint8_t> host_folder::fresh_memory() {
  return folds_ ? folds_->memory() : std::span<std::uint8_t>();
}

std::vector<std::size_t> host_folder::fold_hosts(
    const numeric_host_maps& hosts) const {
  // Both in label order: one walk.
  std::vector<std::size_t> index;
  std::size_t i = 0;
  for (const auto& entry : hosts) {
    while (i < hosts_.size() && hosts_[i] < entry.first) ++i;
    if (i == hosts_.size() || hosts_[i] != entry.first)
      throw std::logic_error("a host to write was not folded");
    index.push_back(i++);
  }
  return index;
}

}  // namespace zurud::hostpara::detail
