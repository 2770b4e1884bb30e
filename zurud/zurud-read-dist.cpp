#include "zurud/zurud-read.hpp"

#include <charconv>
#include <string>

namespace zurud::read {

// ---------------------------------------------------------------------------
// Distance matrices.

label_format_type label_layout(dist_format_type layout) {
  switch (layout) {
    case dist_format_type::PHYLIP:
      return label_format_type::PHYLIP;
    case dist_format_type::TAB:
      return label_format_type::TAB_SEPARATED;
    default:
      return label_format_type::EXTENDED_PHYLIP;
  }
}

namespace {

// A distance read in double precision, rounded to the single precision it is
// stored in. The range is that of the rounded value: the text
// 3.40282347E+38 is a little above the largest float as a double, yet it
// names it. Doubles from halfway to the next power of two upwards would
// round to infinity and are refused before the conversion.
float to_distance(double v) {
  constexpr double overflow = static_cast<double>(max_float) + 0x1p103;
  if (v < 0.0 || v >= overflow) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v);
    throw range_error("distance " + std::string(text, r.ptr) +
                      " outside 0.0 .. 3.40282347E+38");
  }
  return static_cast<float>(v);
}

// Reads every row of a square matrix; store(i, j, v) keeps value j of row i.
template <typename Store>
void read_dist_rows(text_input& in, dist_format_type layout,
                    tax_lab_type& labels, std::int32_t ntax, Store store) {
  const label_format_type label_format = label_layout(layout);
  std::int32_t i = 1;
  try {
    for (; i <= ntax; ++i) {
      labels(i) = read_label(in, label_format);
      for (std::int32_t j = 1; j <= ntax; ++j)
        store(i, j, to_distance(in.read_real()));
      if (!in.exhausted()) in.skip_line();
    }
  } catch (error& e) {
    e.add_detail("row " + std::to_string(i) + " of " + std::to_string(ntax));
    throw;
  }
}

}  // namespace

void read_dist_mat(text_input& in, dist_format_type layout,
                   dist_mat_type& matrix) {
  read_dist_rows(in, layout, matrix.labels, matrix.ntax(),
                 [&](std::int32_t i, std::int32_t j, float v) {
                   matrix.distances.set(i, j, v);
                 });
}

void read_fast_dist_mat(text_input& in, dist_format_type layout,
                        fast_dist_mat_type& matrix) {
  std::int32_t k = 0;
  // set() refuses a k beyond the size, after its value has been read.
  read_dist_rows(in, layout, matrix.labels, matrix.ntax(),
                 [&](std::int32_t, std::int32_t, float v) {
                   matrix.distances.set(++k, v);
                 });
}

}  // namespace zurud::read
