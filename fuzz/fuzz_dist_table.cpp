// read_dist_table on the whole input. A table that reads has a label in every
// row equal to its column's and only distances in range; written in TAB, it
// reads back alike through read_dist_table and read_dist_file (labels that
// TAB keeps as they are), values to the six digits printed.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_util.hpp"
#include "zurud/zurud-print.hpp"
#include "zurud/zurud-read.hpp"

namespace {

using zurud::dist_mat_type;
using zurud_fuzz::check;

// A table of more than 255 columns would allocate beyond max_cells: its
// header line (or the first row, for a header of one label) would hold that
// many separators of one kind.
bool too_wide(std::string_view text) {
  for (int lines = 0; !text.empty() && lines < 2;) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (std::all_of(line.begin(), line.end(),
                    [](char c) { return zurud::whitespace.contains(c); }))
      continue;
    ++lines;
    for (const char sep : {'\t', ';', ',', ' '})
      if (std::count(line.begin(), line.end(), sep) > 255) return true;
  }
  return false;
}

bool close_enough(float a, float b) {
  return std::fabs(a - b) <= 1e-5f * std::fabs(a) + 1e-37f;
}

// TAB writes labels as they are: one that holds a separator, a quote or a
// control character, or has a blank at either end, reads back otherwise.
bool labels_survive(const dist_mat_type& m) {
  for (const std::string& label : m.labels)
    for (std::size_t k = 0; k < label.size(); ++k) {
      const auto c = static_cast<unsigned char>(label[k]);
      if (c < 32 || c == 127 || c == '"' || c == ';' || c == ',') return false;
      if (c == ' ' && (k == 0 || k + 1 == label.size())) return false;
    }
  return true;
}

void check_same(const dist_mat_type& m, const dist_mat_type& back) {
  check(back.labels == m.labels, "labels read back");
  for (std::int32_t i = 1; i <= m.ntax(); ++i)
    for (std::int32_t j = 1; j <= m.ntax(); ++j)
      check(close_enough(m.distances(i, j), back.distances(i, j)),
            "distance read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const auto text = zurud_fuzz::as_text(data, size);
  if (too_wide(text)) return -1;
  zurud::dist_mat_access m;
  try {
    zurud::read::text_input in(text);
    m = zurud::read::read_dist_table(in);
  } catch (const zurud::error&) {
    return 0;
  }
  for (std::int32_t i = 1; i <= m->ntax(); ++i) {
    check(!m->labels(i).empty(), "every row has a label");
    for (std::int32_t j = 1; j <= m->ntax(); ++j) {
      const float v = m->distances(i, j);
      check(v >= 0.0f && v <= zurud::max_float, "distances in range");
    }
  }
  if (!labels_survive(*m)) return 0;
  std::string tab;
  {
    zurud::text_output out(tab);
    zurud::print::print_dist_mat(*m, zurud::dist_format_type::TAB, out);
  }
  zurud::read::text_input again(tab);
  check_same(*m, *zurud::read::read_dist_table(again));
  zurud::read::text_input as_tab(tab);
  check_same(
      *m, *zurud::read::read_dist_file(as_tab, zurud::dist_format_type::TAB));
  return 0;
}
