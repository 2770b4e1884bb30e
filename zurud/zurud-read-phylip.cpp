#include "zurud/zurud-read.hpp"

#include <cmath>
#include <string>

namespace zurud::read {

namespace {

// The rows of read_char_mat. DISCR cells are stored as read (map null),
// stored mapped, or, without `store`, only consumed.
void read_rows(text_input& in, char_format_type layout, char_mat_type& matrix,
               const char_mapping* map, bool store) {
  const label_format_type labels = label_layout(layout);
  const std::int32_t ntax = matrix.ntax();
  const std::int32_t nchar = matrix.nchar();
  std::int32_t i = 1;
  try {
    for (; i <= ntax; ++i) {
      matrix.labels(i) = read_label(in, labels);
      switch (matrix.char_type()) {
        case matrix_type::DISCR: {
          const auto n = static_cast<std::size_t>(nchar);
          if (!store)
            in.skip_black(n);
          else if (map != nullptr)
            in.read_black(matrix.discr_row(i), n, *map);
          else
            in.read_black(matrix.discr_row(i), n);
          break;
        }
        case matrix_type::QUANT: {
          float* row = matrix.quant_row(i);
          for (std::int32_t j = 0; j < nchar; ++j) {
            const double v = in.read_real();
            if (std::isfinite(v) && std::fabs(v) > max_float)
              throw range_error("value " + std::to_string(v) +
                                " beyond single precision");
            row[j] = static_cast<float>(v);
          }
          break;
        }
        case matrix_type::CNTCH: {
          std::int32_t* row = matrix.count_row(i);
          for (std::int32_t j = 0; j < nchar; ++j) {
            const std::int32_t v = in.read_integer();
            if (v < 0)
              throw range_error("negative count " + std::to_string(v));
            row[j] = v;
          }
          break;
        }
      }
      // The end of the input also ends the last row: a file whose last cell
      // is its last byte is complete.
      if (!in.exhausted()) in.skip_line();
    }
  } catch (error& e) {
    e.add_detail("row " + std::to_string(i) + " of " + std::to_string(ntax));
    throw;
  }
}

}  // namespace

void read_char_mat(text_input& in, char_format_type layout,
                   char_mat_type& matrix) {
  read_rows(in, layout, matrix, nullptr, true);
}

void read_char_mat(text_input& in, char_format_type layout,
                   char_mat_type& matrix, const char_mapping& map) {
  read_rows(in, layout, matrix, &map, true);
}

void skim_char_mat(text_input& in, char_format_type layout,
                   char_mat_type& matrix) {
  read_rows(in, layout, matrix, nullptr, false);
}

}  // namespace zurud::read
