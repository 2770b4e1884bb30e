// Host rows of weighted groups: each associate of a host carries a weight
// (an abundance, a read count), and a site's states are weighed instead of
// counted. Used by the host-matrix writer only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "zurud/zurud-hostpara.hpp"

namespace zurud::hostpara::detail {

struct site_rule;

/// Computes host rows of one analysis from stored associate rows and the
/// weights of each host's associates, a stretch of sites at a time; one per
/// thread. At a site, W(s) is the sum of the weights of the associates with
/// state s and n the number of associates with a state; then:
/// - the minimum: a site with n below analysis.minimum() (or 0) is
///   undefined for every formula;
/// - CONSENSUS: the code of the states of positive weight, or under a
///   threshold F the states from the largest W down, ties together, until
///   their weight reaches F of the site's total;
/// - MODUS: the code of the states of the largest W, ties together;
/// - ENTROPY: -sum p ln p over the shares p = W(s) / total, divided by
///   ln(min(n, k)) (k valid states): the largest entropy that n associates
///   over k states reach under any weights, so it stays in 0..1; undefined
///   below two associates;
/// - FREQUENCIES: W(s) / total.
/// Weights are summed in double precision, in row order; cells are rounded
/// to single precision once, at the end.
class weighted_engine {
 public:
  /// `rows` must be stored and outlive the engine: matrix_error for rows
  /// folded, or for GROUP_SIZE.
  weighted_engine(const analysis_type& analysis, const associate_rows& rows);
  ~weighted_engine();
  weighted_engine(const weighted_engine&) = delete;
  weighted_engine& operator=(const weighted_engine&) = delete;

  /// The host whose row is computed next: its associates' rows and their
  /// weights, weights[i] for the i-th row of `group` in its order.
  /// constraint_error "index check failed" for a row outside the rows, or
  /// weights of another length.
  void select(const sets::ordered_tax_nos& group,
              std::span<const double> weights);
  /// Sites first..first+count-1 (0-based) of the selected host's row into
  /// dout (DISCR) or qout (QUANT, columns_per_site() cells a site), as
  /// group_engine::compute writes them; a polymorphism is appended to
  /// `poly` when given, its place counted from `first`. constraint_error "no
  /// element available because key not in map" for a set of states without a
  /// code.
  void compute(std::size_t first, std::size_t count, char* dout, float* qout,
               std::vector<polymorphic_cell>* poly);
  /// The tidy table's lines of those sites, each starting with `start`:
  /// n, the weight sum of each state (an integer when it is one, else six
  /// significant digits), the consensus, modal code and entropy as above.
  void put_tidy_lines(text_output& out, std::string_view start,
                      std::size_t first, std::size_t count);

 private:
  void weigh(std::size_t first, std::size_t count);
  const double* site_sums(std::size_t j) const {
    return sums_.data() + j * (k_ + 1);
  }
  char code_of(formula_type formula, const double* w, std::uint32_t n,
               std::size_t j, std::vector<polymorphic_cell>* poly) const;
  float entropy_of(const double* w, std::uint32_t n) const;

  analysis_type analysis_;
  associate_rows rows_;
  std::shared_ptr<const site_rule> rule_;
  std::size_t k_;
  std::vector<const char*> selected_;
  std::vector<double> weights_;
  // Of the stretch being finished: W(s) of site j at sums_[j * (k + 1) + s]
  // (slot k takes the cells of no state), n at with_state_[j].
  std::vector<double> sums_;
  std::vector<std::uint32_t> with_state_;
  std::vector<std::uint32_t> counted_;  // associates by state, as sums_
};

}  // namespace zurud::hostpara::detail
