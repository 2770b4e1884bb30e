#include "zurud/zurud-read.hpp"

#include <cmath>
#include <string>
#include <vector>

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
  const std::int64_t first_line = in.line();
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
  } catch (end_of_file_error& e) {
    // Read as sequential rows, an interleaved file lets its first rows take
    // the lines of the rows below until the input runs out: the rows have
    // used more lines than there are of them.
    const std::int64_t lines = in.line() - first_line;
    if (lines > i)
      e.add_detail("rows 1 to " + std::to_string(i) + " took " +
                   std::to_string(lines) +
                   " lines; if the file is interleaved, read it with -i");
    e.add_detail("row " + std::to_string(i) + " of " + std::to_string(ntax));
    throw;
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

// ---------------------------------------------------------------------------
// Interleaved rows.

namespace {

// The cells a row takes from the rest of the current line, then the line
// end. A line may not take the row past its length.
void take_line(text_input& in, char* row, std::size_t& filled,
               std::size_t nchar, const cell_options& cells) {
  char* dst = cells.store ? row + filled : nullptr;
  filled += in.read_black_in_line(dst, nchar - filled, cells.map);
  if (in.read_black_in_line(nullptr, 1) != 0)
    throw format_error("more than " + std::to_string(nchar) +
                       " sites on the row's lines");
  if (!in.exhausted()) in.skip_line();
}

}  // namespace

void read_interleaved_char_mat(text_input& in, char_format_type layout,
                               char_mat_type& matrix,
                               const cell_options& cells) {
  const label_format_type labels = label_layout(layout);
  const std::int32_t ntax = matrix.ntax();
  const auto nchar = static_cast<std::size_t>(matrix.nchar());
  std::vector<std::size_t> filled(static_cast<std::size_t>(ntax), 0);
  std::int32_t i = 1;
  std::int64_t block = 1;
  auto row = [&](std::int32_t r) {
    return cells.store ? matrix.discr_row(r) : nullptr;
  };
  try {
    for (; i <= ntax; ++i) {
      matrix.labels(i) = read_label(in, labels);
      take_line(in, row(i), filled[static_cast<std::size_t>(i - 1)], nchar,
                cells);
    }
    // Rows complete together when the blocks are whole; the last row tells.
    while (filled.back() < nchar || filled.front() < nchar) {
      ++block;
      i = 1;
      if (in.skip_members(whitespace))
        in.read_char();  // fails: the input ended before the rows did
      for (i = 1; i <= ntax; ++i) {
        std::size_t& f = filled[static_cast<std::size_t>(i - 1)];
        const std::size_t before = f;
        take_line(in, row(i), f, nchar, cells);
        if (f == before)
          throw format_error("no sites for the row on its line of the block");
      }
    }
    for (i = 1; i <= ntax; ++i)
      if (filled[static_cast<std::size_t>(i - 1)] != nchar)
        throw format_error(
            "the row has " +
            std::to_string(filled[static_cast<std::size_t>(i - 1)]) +
            " sites where the header says " + std::to_string(nchar));
  } catch (error& e) {
    e.add_detail("row " + std::to_string(i) + " of " + std::to_string(ntax) +
                 (block > 1 ? " in block " + std::to_string(block) : ""));
    throw;
  }
}

}  // namespace zurud::read
