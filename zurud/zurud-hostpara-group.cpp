#include "zurud/zurud-hostpara.hpp"

// Group characters: the analysis a host matrix asks for, the engine that
// computes host rows a stretch of sites at a time, and the plain reference.
#include <algorithm>
#include <cstring>
#include <string>

#include "zurud/detail/hostpara-kernels.hpp"

namespace zurud::hostpara {

// ---------------------------------------------------------------------------
// Analyses.

analysis_type analysis_type::of_shape(const char_mat_type& result,
                                      const char_mat_type& chars,
                                      const char_set& valid_states,
                                      bool modal_only) {
  if (chars.char_type() != matrix_type::DISCR)
    throw matrix_error("associate matrix is not discrete");
  const auto formula = [&](formula_type f) {
    return analysis_type(f, valid_states);
  };
  switch (result.char_type()) {
    case matrix_type::CNTCH:
      if (result.nchar() == 1) return formula(formula_type::GROUP_SIZE);
      break;
    case matrix_type::DISCR:
      if (result.nchar() == chars.nchar())
        return formula(modal_only ? formula_type::MODUS
                                  : formula_type::CONSENSUS);
      break;
    case matrix_type::QUANT:
      // Entropy first: with a single valid state both widths agree.
      if (result.nchar() == chars.nchar())
        return formula(formula_type::ENTROPY);
      if (static_cast<std::int64_t>(result.nchar()) ==
          static_cast<std::int64_t>(chars.nchar()) * valid_states.size())
        return formula(formula_type::FREQUENCIES);
      break;
  }
  throw matrix_error("host matrix shape fits no analysis");
}

analysis_type& analysis_type::with_threshold(fraction_type share) {
  if (share.num == 0 || share.num > share.den || share.den >> 32 != 0)
    throw range_error("consensus threshold " + std::to_string(share.num) + "/" +
                          std::to_string(share.den) + " outside 0..1",
                      "a share above 0 and at most 1");
  threshold_ = share;
  return *this;
}

analysis_type& analysis_type::with_minimum(std::uint32_t minimum) {
  if (minimum < 1)
    throw range_error("minimum of associates with a state 0 below 1");
  minimum_ = minimum;
  return *this;
}

bool operator==(const analysis_type& a, const analysis_type& b) noexcept {
  // A threshold is compared as the share it is: 1/2 is 50/100.
  return a.formula_ == b.formula_ && a.alphabet_ == b.alphabet_ &&
         a.valid_states_.members() == b.valid_states_.members() &&
         a.threshold_.num * b.threshold_.den ==
             b.threshold_.num * a.threshold_.den &&
         a.minimum_ == b.minimum_;
}

std::vector<std::string> analysis_type::state_names() const {
  std::vector<std::string> names;
  for (const char c : valid_states_.members()) {
    const state_set_type bit = alphabet_.state_of(c);
    names.emplace_back(1, bit != 0 ? alphabet_.code_of(bit) : c);
  }
  return names;
}

matrix_type analysis_type::cell_type() const noexcept {
  switch (formula_) {
    case formula_type::GROUP_SIZE:
      return matrix_type::CNTCH;
    case formula_type::CONSENSUS:
    case formula_type::MODUS:
      return matrix_type::DISCR;
    case formula_type::ENTROPY:
    case formula_type::FREQUENCIES:
      break;
  }
  return matrix_type::QUANT;
}

std::int32_t analysis_type::columns_per_site() const noexcept {
  return formula_ == formula_type::FREQUENCIES ? valid_states_.size() : 1;
}

std::int32_t analysis_type::written_columns(std::int32_t nchar) const {
  if (formula_ == formula_type::GROUP_SIZE) return 1;
  const std::int64_t k = columns_per_site();
  const std::int64_t n = static_cast<std::int64_t>(nchar) * k;
  if (n > INT32_MAX)
    throw range_error(
        "character count " + std::to_string(n) + " outside 1..2147483647",
        "frequencies of " + std::to_string(nchar) + " characters need " +
            std::to_string(k) + " columns each");
  return static_cast<std::int32_t>(n);
}

std::int32_t analysis_type::columns(std::int32_t nchar) const {
  if (formula_ == formula_type::GROUP_SIZE) return 1;
  const std::int64_t k = columns_per_site();
  const std::int64_t n = static_cast<std::int64_t>(nchar) * k;
  if (n > max_chars)
    throw range_error(
        "character count " + std::to_string(n) + " outside 1..1048576",
        "frequencies of " + std::to_string(nchar) + " characters need " +
            std::to_string(k) + " columns each");
  return static_cast<std::int32_t>(n);
}

// ---------------------------------------------------------------------------
// The engine.

group_engine::shared_rule group_engine::make_rule(const analysis_type& analysis,
                                                  std::int32_t max_group) {
  return std::make_shared<const detail::site_rule>(analysis, max_group);
}

group_engine::group_engine(const analysis_type& analysis,
                           const char_mat_type& chars)
    : group_engine(analysis, chars,
                   chars.char_type() == matrix_type::DISCR
                       ? make_rule(analysis, chars.ntax())
                       : nullptr) {}

group_engine::group_engine(const analysis_type& analysis,
                           const char_mat_type& chars, shared_rule rule)
    : group_engine(analysis, associate_rows(chars), std::move(rule)) {}

group_engine::group_engine(const analysis_type& analysis, associate_rows rows,
                           shared_rule rule)
    : analysis_(analysis), chars_(std::move(rows)), rule_(std::move(rule)) {
  scratch_ = std::make_unique<detail::kernel_scratch>(
      *rule_, static_cast<std::size_t>(chars_.count()));
}

associate_rows::associate_rows(const char_mat_type& chars)
    : count_(chars.ntax()), nchar_(chars.nchar()) {
  if (chars.char_type() != matrix_type::DISCR)
    throw matrix_error("associate matrix is not discrete");
  rows_.reserve(static_cast<std::size_t>(count_));
  for (std::int32_t i = 1; i <= count_; ++i) rows_.push_back(chars.discr_row(i));
}

associate_rows::associate_rows(std::vector<const char*> rows,
                               std::int32_t nchar)
    : rows_(std::move(rows)),
      count_(static_cast<std::int32_t>(rows_.size())),
      nchar_(nchar) {}

associate_rows associate_rows::folded(std::int32_t count, std::int32_t nchar) {
  associate_rows r;
  r.count_ = count;
  r.nchar_ = nchar;
  return r;
}

group_engine::~group_engine() = default;

void group_engine::select(const sets::ordered_tax_nos& group) {
  if (chars_.stored() && !group.empty() &&
      (*group.begin() < 1 || *group.rbegin() > chars_.count()))
    throw constraint_error(
        "index check failed",
        "associate row " +
            std::to_string(*group.begin() < 1 ? *group.begin()
                                              : *group.rbegin()) +
            " outside 1.." + std::to_string(chars_.count()));
  rows_.clear();
  selected_ = group.size();
  // Folded rows are not kept: their hosts are computed from the folds.
  if (!chars_.stored()) return;
  for (const std::int32_t r : group) rows_.push_back(chars_.row(r));
}

void group_engine::compute_cells(std::size_t first, std::size_t count,
                                 char* dout, float* qout,
                                 std::vector<polymorphic_cell>* poly) {
  const detail::kernel_fn kernel = detail::select_kernels(*rule_).count;
  const std::size_t per_site =
      static_cast<std::size_t>(analysis_.columns_per_site());
  const detail::block_out out{dout, qout, poly, 0};
  for (std::size_t done = 0; done < count; done += detail::kernel_block) {
    const std::size_t width = std::min(detail::kernel_block, count - done);
    kernel(*rule_, *scratch_, rows_.data(), rows_.size(), first + done, width,
           out.from(done, per_site));
  }
}

namespace {

void require_cells(const analysis_type& analysis, matrix_type type) {
  if (analysis.cell_type() == type) return;
  switch (type) {
    case matrix_type::DISCR:
      throw matrix_error("discrete cells asked of a non-discrete analysis");
    case matrix_type::QUANT:
      throw matrix_error("real cells asked of a non-real analysis");
    case matrix_type::CNTCH:
      break;
  }
  throw matrix_error("counts asked of an analysis without counts");
}

}  // namespace

void group_engine::compute(std::size_t first, std::size_t count, char* out) {
  require_cells(analysis_, matrix_type::DISCR);
  compute_cells(first, count, out, nullptr, nullptr);
}

void group_engine::compute(std::size_t first, std::size_t count, char* out,
                           std::vector<polymorphic_cell>& polymorphisms) {
  require_cells(analysis_, matrix_type::DISCR);
  compute_cells(first, count, out, nullptr, &polymorphisms);
}

void group_engine::compute(std::size_t first, std::size_t count, float* out) {
  require_cells(analysis_, matrix_type::QUANT);
  compute_cells(first, count, nullptr, out, nullptr);
}

void group_engine::compute(const group_folds& folds, std::size_t host,
                           std::size_t first, std::size_t count, char* out) {
  require_cells(analysis_, matrix_type::DISCR);
  compute_folded(folds, host, first, count, out, nullptr, nullptr);
}

void group_engine::compute(const group_folds& folds, std::size_t host,
                           std::size_t first, std::size_t count, char* out,
                           std::vector<polymorphic_cell>& polymorphisms) {
  require_cells(analysis_, matrix_type::DISCR);
  compute_folded(folds, host, first, count, out, nullptr, &polymorphisms);
}

void group_engine::compute(const group_folds& folds, std::size_t host,
                           std::size_t first, std::size_t count, float* out) {
  require_cells(analysis_, matrix_type::QUANT);
  compute_folded(folds, host, first, count, nullptr, out, nullptr);
}

void group_engine::compute_folded(const group_folds& folds, std::size_t host,
                                  std::size_t first, std::size_t count,
                                  char* dout, float* qout,
                                  std::vector<polymorphic_cell>* poly) {
  if (folds.rule_->formula != rule_->formula ||
      folds.rule_->states != rule_->states ||
      !(folds.rule_->alphabet == rule_->alphabet) ||
      folds.rule_->minimum != rule_->minimum ||
      !(folds.rule_->threshold == rule_->threshold))
    throw matrix_error("rows folded for another analysis");
  folds.finish(*rule_, *scratch_, host, first, count, dout, qout, poly);
}

void group_engine::count_states(std::size_t first, std::size_t count,
                                std::uint32_t* out) {
  const detail::site_rule& rule = *rule_;
  if (first > static_cast<std::size_t>(chars_.nchar()) ||
      count > static_cast<std::size_t>(chars_.nchar()) - first)
    throw constraint_error("index check failed");
  // One plane more takes the symbols outside the states, so that the loop
  // over a row has no branch.
  std::fill_n(out, rule.k * count, 0u);
  std::vector<std::uint32_t>& other = scratch_->other;
  other.assign(count, 0);
  std::uint32_t* planes[detail::mask_states + 1];
  const bool few = rule.k <= detail::mask_states;
  for (std::size_t s = 0; few && s <= rule.k; ++s)
    planes[s] = s < rule.k ? out + s * count : other.data();
  for (const char* row : rows_) {
    const char* const cells = row + first;
    if (few) {
      for (std::size_t j = 0; j < count; ++j)
        ++planes[rule.index[static_cast<unsigned char>(cells[j])]][j];
    } else {
      for (std::size_t j = 0; j < count; ++j) {
        const std::size_t s = rule.index[static_cast<unsigned char>(cells[j])];
        if (s < rule.k) ++out[s * count + j];
      }
    }
  }
}

void group_engine::compute(std::size_t, std::size_t, std::int32_t* out) {
  require_cells(analysis_, matrix_type::CNTCH);
  *out = static_cast<std::int32_t>(selected_);
}

// ---------------------------------------------------------------------------
// Folded groups.

bool group_folds::can_fold(const analysis_type& analysis) noexcept {
  const std::int32_t k = analysis.valid_states().size();
  return k >= 1 && k <= static_cast<std::int32_t>(detail::mask_states) &&
         analysis.formula() != formula_type::GROUP_SIZE;
}

namespace {

// Modal values of at most this many symbols are the states met: they tie.
constexpr std::size_t met_modal_rows = 2;

// The counters of a host of at most `size` associations over k states: the
// states met for a consensus, and for modal values of at most two symbols
// (which always tie), in planes of bits or, of more than eight states, in
// masks; else as few bits as hold its counts (a host given more rows moves
// them into 16-bit totals whenever they fill).
// A minimum or a threshold needs the counts: how many associates have a
// state, and how many each state.
detail::counter_width width_for(const analysis_type& analysis, std::size_t size,
                                std::size_t k) noexcept {
  const formula_type formula = analysis.formula();
  if (analysis.plain_site_rule() &&
      (formula == formula_type::CONSENSUS ||
       (formula == formula_type::MODUS && size <= met_modal_rows)))
    return {k <= 8 ? 1u : 32u};
  return {size <= 3 ? 2u : size <= 15 ? 4u : 8u};
}

}  // namespace

std::size_t group_folds::host_bytes(const analysis_type& analysis,
                                    std::size_t size,
                                    std::size_t nchar) noexcept {
  const auto k = static_cast<std::size_t>(analysis.valid_states().size());
  return width_for(analysis, size, k).bytes(k, nchar);
}

std::size_t group_folds::bytes(const analysis_type& analysis,
                               std::size_t hosts, std::size_t nchar) noexcept {
  return hosts * host_bytes(analysis, static_cast<std::size_t>(-1), nchar);
}

std::size_t group_folds::bytes(const analysis_type& analysis,
                               std::span<const std::size_t> sizes,
                               std::size_t nchar) noexcept {
  std::size_t n = 0;
  for (const std::size_t size : sizes) n += host_bytes(analysis, size, nchar);
  return n;
}

group_folds::group_folds(const analysis_type& analysis, std::size_t hosts,
                         std::size_t nchar)
    : group_folds(analysis,
                  std::vector<std::size_t>(hosts, static_cast<std::size_t>(-1)),
                  nchar) {}

group_folds::group_folds(const analysis_type& analysis,
                         std::span<const std::size_t> sizes, std::size_t nchar)
    : hosts_(sizes.size()), nchar_(nchar) {
  if (!can_fold(analysis))
    throw constraint_error("an analysis that cannot be folded");
  rule_ = group_engine::make_rule(analysis, 0);
  offset_.reserve(hosts_ + 1);
  offset_.push_back(0);
  for (const std::size_t size : sizes) {
    offset_.push_back(offset_.back() + host_bytes(analysis, size, nchar));
    bits_.push_back(static_cast<std::uint8_t>(
        width_for(analysis, size,
                  static_cast<std::size_t>(analysis.valid_states().size()))
            .bits));
  }
  acc_ = new_zeroed_bytes(offset_.back());
  fresh_.assign(hosts_, 1);
  folded_.assign(hosts_, 0);
  wide_.resize(hosts_);
}

group_folds::~group_folds() = default;

void group_folds::fold(std::size_t host, std::span<const char* const> rows) {
  if (host >= hosts_)
    throw constraint_error("index check failed",
                           "host " + std::to_string(host) + " of " +
                               std::to_string(hosts_));
  static_assert(rows_at_once == detail::fold_max_rows);
  std::uint8_t* const acc = acc_.get() + offset_[host];
  const detail::fold_fn fold = detail::select_kernels(*rule_).fold;
  const detail::counter_width width{bits_[host]};
  if (width.met_only() && rule_->formula == formula_type::MODUS) {
    // The states met stand for the modal values of two rows, not of more.
    if (rows.size() > met_modal_rows - folded_[host])
      throw constraint_error(
          "index check failed",
          "host " + std::to_string(host) + " said to have at most " +
              std::to_string(met_modal_rows) + " associations gets " +
              std::to_string(folded_[host] + rows.size()) + " rows");
    folded_[host] = static_cast<std::uint8_t>(folded_[host] + rows.size());
  }
  while (!rows.empty()) {
    std::size_t m = std::min(rows.size(), rows_at_once);
    if (!width.met_only()) {
      if (folded_[host] == width.limit()) {
        // Full: the counts move into the 16-bit totals.
        std::vector<std::uint16_t>& wide = wide_[host];
        wide.resize(rule_->k * nchar_);
        for (std::size_t s = 0; s < rule_->k; ++s)
          for (std::size_t j = 0; j < nchar_; ++j)
            wide[s * nchar_ + j] = static_cast<std::uint16_t>(
                wide[s * nchar_ + j] + width.get(acc, nchar_, j, s));
        std::memset(acc, 0, offset_[host + 1] - offset_[host]);
        folded_[host] = 0;
      }
      m = std::min<std::size_t>(m, width.limit() - folded_[host]);
      folded_[host] = static_cast<std::uint8_t>(folded_[host] + m);
    }
    fold(*rule_, rows.data(), m, nchar_, width, fresh_[host] != 0, acc);
    fresh_[host] = 0;
    rows = rows.subspan(m);
  }
}

void group_folds::compute(std::size_t host, std::size_t first,
                          std::size_t count, char* out,
                          std::vector<polymorphic_cell>* polymorphisms) const {
  if (rule_->formula != formula_type::CONSENSUS &&
      rule_->formula != formula_type::MODUS)
    throw matrix_error("discrete cells asked of a non-discrete analysis");
  detail::kernel_scratch scratch(*rule_, 0);  // codes need no tables
  finish(*rule_, scratch, host, first, count, out, nullptr, polymorphisms);
}

void group_folds::count_states(std::size_t host, std::size_t first,
                               std::size_t count, std::uint32_t* out) const {
  if (host >= hosts_ || first > nchar_ || count > nchar_ - first)
    throw constraint_error("index check failed");
  const std::uint8_t* const acc = acc_.get() + offset_[host];
  const detail::counter_width width{bits_[host]};
  if (width.met_only())
    throw matrix_error("counts asked of rows folded as the states met");
  const std::size_t k = rule_->k;
  if (width.bits == 8) {
    for (std::size_t s = 0; s < k; ++s)
      std::copy_n(acc + s * nchar_ + first, count, out + s * count);
  } else {
    // Packed counters, unpacked a block at a time.
    std::vector<std::uint8_t> planes(k * detail::kernel_block);
    for (std::size_t done = 0; done < count; done += detail::kernel_block) {
      const std::size_t n = std::min(detail::kernel_block, count - done);
      detail::unpack_counters(*rule_, acc, nchar_, first + done, n, width,
                              planes.data());
      for (std::size_t s = 0; s < k; ++s)
        std::copy_n(planes.data() + s * n, n, out + s * count + done);
    }
  }
  // The 16-bit totals of the rows before the counters last filled.
  if (!wide_[host].empty())
    for (std::size_t s = 0; s < k; ++s)
      for (std::size_t j = 0; j < count; ++j)
        out[s * count + j] += wide_[host][s * nchar_ + first + j];
}

void group_folds::finish(const detail::site_rule& rule,
                         detail::kernel_scratch& scratch, std::size_t host,
                         std::size_t first, std::size_t count, char* dout,
                         float* qout,
                         std::vector<polymorphic_cell>* poly) const {
  if (host >= hosts_ || first > nchar_ || count > nchar_ - first)
    throw constraint_error("index check failed");
  const std::uint8_t* const acc = acc_.get() + offset_[host];
  const detail::counter_width width{bits_[host]};
  const detail::kernel_set kernels = detail::select_kernels(rule);
  const detail::block_out out{dout, qout, poly, 0};
  if (width.site_masks()) {
    kernels.finish_masks(rule, acc, first, count, out);
    return;
  }
  if (width.met_only()) {
    kernels.finish_met(rule, acc, nchar_, first, count, out);
    return;
  }
  if (!wide_[host].empty()) {
    kernels.finish_wide(rule, scratch, acc, wide_[host].data(), nchar_, first,
                        count, width, out);
    return;
  }
  if (detail::finished_by_byte(rule, width)) {
    detail::finish_bytes(rule, scratch, acc + first, count, qout);
    return;
  }
  const detail::finish_fold_fn finish = kernels.finish_fold;
  if (width.bits == 8) {
    finish(rule, scratch, acc, nchar_, first, count, out);
    return;
  }
  // Packed counters are finished a block at a time as byte counters.
  const std::size_t per_site =
      rule.formula == formula_type::FREQUENCIES ? rule.k : 1;
  const std::size_t block = detail::unpack_block(rule.k);
  std::vector<std::uint8_t>& planes = scratch.planes;
  planes.resize(rule.k * block);
  for (std::size_t done = 0; done < count; done += block) {
    const std::size_t n = std::min(block, count - done);
    detail::unpack_counters(rule, acc, nchar_, first + done, n, width,
                            planes.data());
    finish(rule, scratch, planes.data(), n, 0, n, out.from(done, per_site));
  }
}

// ---------------------------------------------------------------------------
// Group characters.

namespace {

// Whether `result` is shaped for `analysis` over `chars`.
void check_shape(const char_mat_type& result, const char_mat_type& chars,
                 const analysis_type& analysis) {
  if (chars.char_type() != matrix_type::DISCR)
    throw matrix_error("associate matrix is not discrete");
  if (result.char_type() != analysis.cell_type() ||
      result.nchar() != analysis.columns(chars.nchar()))
    throw matrix_error("host matrix shape fits no analysis");
}

}  // namespace

void get_group_chars(char_mat_type& result, const char_mat_type& chars,
                     const numeric_host_maps& hosts,
                     const char_set& valid_states, bool modal_only) {
  get_group_chars(
      result, chars, hosts,
      analysis_type::of_shape(result, chars, valid_states, modal_only));
}

void get_group_chars(char_mat_type& result, const char_mat_type& chars,
                     const numeric_host_maps& hosts,
                     const analysis_type& analysis) {
  check_shape(result, chars, analysis);
  group_engine engine(analysis, chars);
  const auto nchar = static_cast<std::size_t>(chars.nchar());
  auto host = hosts.begin();
  for (std::int32_t i = 1; i <= result.ntax(); ++i, ++host) {
    if (host == hosts.end())
      throw constraint_error(
          "Position cursor of function Key equals No_Element");
    result.labels(i) = host->first;
    if (analysis.has_row_comments())
      result.comments(i) =
          integer_image(static_cast<std::int64_t>(host->second.size()));
    engine.select(host->second);
    switch (analysis.cell_type()) {
      case matrix_type::CNTCH:
        engine.compute(0, 1, result.count_row(i));
        break;
      case matrix_type::DISCR:
        engine.compute(0, nchar, result.discr_row(i));
        break;
      case matrix_type::QUANT:
        engine.compute(0, nchar, result.quant_row(i));
        break;
    }
  }
}

namespace detail {

namespace {

// The states of a consensus of the threshold `share`, the plain way: the
// distinct symbols by falling count (code order among equal counts), taken
// until they make up the share of the string, and every symbol tied with
// the last one taken.
std::string threshold_states(std::string_view s, fraction_type share) {
  std::vector<std::pair<std::size_t, char>> counted;
  for (const char c : char_set(s).members())
    counted.emplace_back(std::count(s.begin(), s.end(), c), c);
  std::stable_sort(
      counted.begin(), counted.end(),
      [](const auto& a, const auto& b) { return a.first > b.first; });
  std::string taken;
  std::uint64_t cum = 0;
  std::size_t last = 0;
  for (const auto& [count, c] : counted) {
    if (!taken.empty() && count != last &&
        cum * share.den >= share.num * s.size())
      break;
    taken += c;
    cum += count;
    last = count;
  }
  return taken;
}

}  // namespace

void fill_rows_plain(char_mat_type& result, const char_mat_type& chars,
                     const numeric_host_maps& hosts,
                     const char_set& valid_states, bool modal_only) {
  fill_rows_plain(
      result, chars, hosts,
      analysis_type::of_shape(result, chars, valid_states, modal_only));
}

void fill_rows_plain(char_mat_type& result, const char_mat_type& chars,
                     const numeric_host_maps& hosts,
                     const analysis_type& analysis,
                     std::vector<polymorphic_cell>* polymorphisms) {
  check_shape(result, chars, analysis);
  const formula_type formula = analysis.formula();
  const char_set& valid_states = analysis.valid_states();
  const alphabet_type& alphabet = analysis.alphabet();
  std::size_t cell = 0;  // of result, row by row
  const auto lookup_code = [&](const char_set& set) {
    const char code = alphabet.code_of(set);
    if (code == 0) throw constraint_error(key_not_in_map_msg);
    state_set_type states = 0;
    for (const char c : set.members()) states |= alphabet.state_of(c);
    if (polymorphisms != nullptr && alphabet.polymorphic(states))
      polymorphisms->push_back({cell, states});
    return code;
  };
  ent_val_type max_ent;
  if (formula == formula_type::ENTROPY) {
    max_ent.resize(static_cast<std::size_t>(chars.ntax()));
    max_entropy(max_ent, valid_states);
  }
  const std::string states = valid_states.members();
  std::string group_string;
  group_string.reserve(static_cast<std::size_t>(chars.ntax()));
  auto host = hosts.begin();
  for (std::int32_t i = 1; i <= result.ntax(); ++i, ++host) {
    if (host == hosts.end())
      throw constraint_error(
          "Position cursor of function Key equals No_Element");
    result.labels(i) = host->first;
    const sets::ordered_tax_nos& group = host->second;
    if (formula == formula_type::GROUP_SIZE) {
      result.count(i, 1) = static_cast<std::int32_t>(group.size());
      continue;
    }
    result.comments(i) = integer_image(static_cast<std::int64_t>(group.size()));
    std::int32_t column = 0;
    for (std::int32_t j = 1; j <= chars.nchar(); ++j) {
      cell = static_cast<std::size_t>(i - 1) *
                 static_cast<std::size_t>(result.nchar()) +
             static_cast<std::size_t>(j - 1);
      group_string.clear();
      for (const std::int32_t r : group) {
        const char c = chars.discr(r, j);
        if (valid_states.contains(c)) group_string += c;
      }
      const std::size_t n = group_string.size();
      // Fewer associates with a state than the minimum: undefined.
      const bool none = n == 0 || n < analysis.minimum();
      switch (formula) {
        case formula_type::CONSENSUS:
          result.discr(i, j) =
              none ? undefined_char
                   : lookup_code(char_set(
                         analysis.takes_all_states()
                             ? group_string
                             : threshold_states(group_string,
                                                analysis.threshold())));
          break;
        case formula_type::MODUS:
          result.discr(i, j) =
              none ? undefined_char
                   : lookup_code(char_set(modal_values(group_string)));
          break;
        case formula_type::ENTROPY:
          result.quant(i, j) = n >= 2 && !none
                                   ? entropy(group_string) / max_ent[n - 1]
                                   : undefined_real;
          break;
        case formula_type::FREQUENCIES:
          for (char s : states) {
            ++column;
            result.quant(i, column) =
                none ? undefined_real
                     : static_cast<float>(std::count(group_string.begin(),
                                                     group_string.end(), s)) /
                           static_cast<float>(n);
          }
          break;
        case formula_type::GROUP_SIZE:
          break;
      }
    }
  }
}

}  // namespace detail

}  // namespace zurud::hostpara
