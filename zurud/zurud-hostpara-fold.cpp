#include "zurud/detail/hostpara-run.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace zurud::hostpara::detail {

namespace {

// A name with "_" read as a blank: spreadsheets keep blanks where NEXUS and
// PHYLIP files write underscores.
void append_loose(std::string& to, std::string_view name) {
  for (const char c : name) to += c == '_' ? ' ' : c;
}

bool has_blank_or_underscore(std::string_view name) {
  return name.find_first_of("_ ") != std::string_view::npos;
}

}  // namespace

host_folder::host_folder(std::span<const resolved_pair> pairs,
                         std::int32_t min_group_size, bool trim,
                         const analysis_type& analysis)
    : analysis_(analysis), trim_(trim) {
  // Hosts numbered as met, then ranked in label order; those with enough
  // associations are folded.
  std::vector<std::string_view> met;
  std::vector<std::size_t> count;
  std::vector<std::uint32_t> host_of(pairs.size());
  flat_index host_index;
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    const std::string_view host = pairs[k].host;
    const auto fresh = static_cast<std::uint32_t>(met.size());
    const std::uint32_t h =
        host_index.find_or_add(text_hash(host), fresh,
                               [&](std::uint32_t j) { return met[j] == host; });
    if (h == fresh) {
      met.push_back(host);
      count.push_back(0);
    }
    ++count[h];
    host_of[k] = h;
  }
  std::vector<std::uint32_t> order(met.size());
  for (std::uint32_t h = 0; h < order.size(); ++h) order[h] = h;
  std::sort(order.begin(), order.end(),
            [&](std::uint32_t a, std::uint32_t b) { return met[a] < met[b]; });
  constexpr std::uint32_t not_folded = 0xFFFFFFFFu;
  std::vector<std::uint32_t> folded_as(met.size(), not_folded);
  for (const std::uint32_t h : order) {
    if (static_cast<std::int64_t>(count[h]) < min_group_size) continue;
    folded_as[h] = static_cast<std::uint32_t>(hosts_.size());
    hosts_.emplace_back(met[h]);
    sizes_.push_back(count[h]);
  }

  // The associates of folded hosts, by name, each with its hosts in label
  // order: pairs sorted by associate, then host.
  std::vector<std::uint64_t> keyed;  // associate << 32 | folded host
  keyed.reserve(pairs.size());
  std::vector<std::size_t> first_pair;  // an associate's first pair
  of_associate_.reserve(pairs.size());
  pair_associate_.assign(pairs.size(), flat_index::none);
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    const std::uint32_t h = folded_as[host_of[k]];
    if (h == not_folded) continue;
    const std::string_view para = pairs[k].para;
    const auto fresh = static_cast<std::uint32_t>(first_pair.size());
    const std::uint32_t a = of_associate_.find_or_add(
        text_hash(para), fresh,
        [&](std::uint32_t j) { return pairs[first_pair[j]].para == para; });
    if (a == fresh) first_pair.push_back(k);
    pair_associate_[k] = a;
    keyed.push_back(static_cast<std::uint64_t>(a) << 32 | h);
  }
  std::sort(keyed.begin(), keyed.end());
  associates_.resize(first_pair.size());
  for (std::size_t a = 0; a < first_pair.size(); ++a) {
    const std::string_view name = pairs[first_pair[a]].para;
    associates_[a].at = names_.size();
    associates_[a].size = static_cast<std::uint32_t>(name.size());
    names_.append(name);
  }
  hosts_of_.reserve(keyed.size());
  for (const std::uint64_t key : keyed) {
    associate& a = associates_[key >> 32];
    if (a.count++ == 0) a.first = static_cast<std::uint32_t>(hosts_of_.size());
    hosts_of_.push_back(static_cast<std::uint32_t>(key));
  }
}

std::uint32_t host_folder::find(std::string_view name) const {
  return of_associate_.find(text_hash(name), [&](std::uint32_t j) {
    return name_of(associates_[j]) == name;
  });
}

void host_folder::make_loose() {
  // Names whose "_"-as-blank form is theirs alone. Made at the first row
  // whose label no association names exactly: most files never need it. A
  // name without "_" or blank is its own form, which only that very label
  // reaches: such names are left out.
  loose_made_ = true;
  std::vector<std::uint32_t> uses;
  for (std::uint32_t a = 0; a < associates_.size(); ++a) {
    const std::string_view name = name_of(associates_[a]);
    if (!has_blank_or_underscore(name)) continue;
    const std::size_t at = loose_names_.size();
    append_loose(loose_names_, name);
    const std::string_view form = std::string_view(loose_names_).substr(at);
    const auto fresh = static_cast<std::uint32_t>(loose_.size());
    const std::uint32_t e =
        loose_index_.find_or_add(text_hash(form), fresh, [&](std::uint32_t j) {
          return std::string_view(loose_names_)
                     .substr(loose_[j].at, loose_[j].size) == form;
        });
    if (e == fresh) {
      loose_.push_back({at, static_cast<std::uint32_t>(name.size()), a});
      uses.push_back(0);
    } else {
      loose_names_.resize(at);
    }
    ++uses[e];
  }
  // A form shared by several names stands for none of them.
  for (std::size_t e = 0; e < loose_.size(); ++e)
    if (uses[e] > 1) loose_[e].associate = flat_index::none;
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

void host_folder::take(std::int32_t row, const std::string& label,
                       char* cells) {
  sample_->add(cells);
  // PHYLIP names are matched without their padding, as in the plain order.
  const std::string_view name =
      trim_ ? std::string_view(label).substr(0, label.find_last_not_of(' ') + 1)
            : std::string_view(label);
  const std::size_t at = kept_;  // the buffer holding `cells`
  const std::uint32_t a = find(name);
  if (a == flat_index::none) {
    // Possibly the same name written with "_" for blank: kept until the end,
    // when it is known whether a row of the very name came too.
    if (!has_blank_or_underscore(name)) return;
    if (!loose_made_) make_loose();
    if (loose_.empty()) return;
    std::string form;
    append_loose(form, name);
    const std::uint32_t e =
        loose_index_.find(text_hash(form), [&](std::uint32_t j) {
          return std::string_view(loose_names_)
                     .substr(loose_[j].at, loose_[j].size) == form;
        });
    if (e == flat_index::none || loose_[e].associate == flat_index::none ||
        associates_[loose_[e].associate].folded)
      return;
    auto row = std::make_unique_for_overwrite<char[]>(nchar_);
    std::memcpy(row.get(), cells, nchar_);
    loose_rows_.emplace_back(loose_[e].associate, std::move(row));
    return;
  }
  // A label met twice fails the run once the matrix is read; its second row
  // is not folded, so that no host outgrows its associations.
  if (associates_[a].folded) return;
  associates_[a].row = row;
  fold_row(associates_[a], cells, at);
}

void host_folder::fold_row(associate& a, char* cells, std::size_t at) {
  a.folded = true;
  const std::span<const std::uint32_t> hosts = hosts_of(a);
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
  for (auto& [k, row] : loose_rows_) {
    associate& a = associates_[k];
    if (a.folded) continue;
    a.folded = true;
    for (const std::uint32_t h : hosts_of(a)) folds_->fold(h, row.get());
  }
  loose_rows_.clear();
}

std::span<std::uint8_t> host_folder::fresh_memory() {
  return folds_ ? folds_->memory() : std::span<std::uint8_t>();
}

std::vector<std::int32_t> host_folder::pair_rows() const {
  std::vector<std::int32_t> rows(pair_associate_.size(), 0);
  for (std::size_t k = 0; k < rows.size(); ++k)
    if (pair_associate_[k] != flat_index::none)
      rows[k] = associates_[pair_associate_[k]].row;
  return rows;
}

void host_folder::release_associates() {
  names_ = {};
  associates_ = {};
  hosts_of_ = {};
  of_associate_.clear();
  pair_associate_ = {};
  loose_names_ = {};
  loose_ = {};
  loose_index_.clear();
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
