// Helpers of the tests that compare the engine's kernels and folds with the
// plain reference.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "zurud/zurud-hostpara.hpp"

/// One host row as a kernel computed it: codes (with the polymorphisms
/// asked for) or reals, or that the computation failed.
struct row_cells {
  std::string codes;
  std::vector<float> reals;
  std::vector<zurud::polymorphic_cell> polymorphisms;
  bool failed = false;
  bool operator==(const row_cells&) const = default;
};

/// The row that `compute` writes into cells of the analysis' shape over n
/// sites; a constraint_error (a set of states without a code) is kept as
/// `failed`.
template <class Compute>
row_cells cells_of(const zurud::hostpara::analysis_type& a, std::size_t n,
                   Compute compute) {
  row_cells c;
  if (a.cell_type() == zurud::matrix_type::DISCR)
    c.codes.assign(n, '\0');
  else
    c.reals.assign(n * static_cast<std::size_t>(a.columns_per_site()), 0);
  try {
    compute(c);
  } catch (const zurud::constraint_error&) {
    c.failed = true;
  }
  return c;
}

/// Hosts h0, h1, ... of consecutive rows from 1, groups[h] rows each, and
/// their sizes as group_folds takes them.
struct consecutive_hosts {
  zurud::hostpara::numeric_host_maps hosts;
  std::vector<std::size_t> sizes;
  explicit consecutive_hosts(const std::vector<std::int32_t>& groups) {
    std::int32_t row = 1;
    for (std::size_t h = 0; h < groups.size(); ++h) {
      sizes.push_back(static_cast<std::size_t>(groups[h]));
      for (std::int32_t k = 0; k < groups[h]; ++k)
        hosts["h" + std::to_string(h)].insert(row++);
    }
  }
};
