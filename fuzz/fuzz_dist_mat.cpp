// read_dist_header + read_dist_mat or read_fast_dist_mat. The first byte
// chooses the layout (byte % 7), the reader (byte / 7 % 2: square, flat) and,
// for the flat one, whether it is one value short of the full square
// (byte / 14 % 2); the rest is the file. Both readers must agree value for
// value. A matrix that reads whole is printed in every layout; in the layouts
// whose labels survive it is printed and read back, values to the six digits
// printed.
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/fuzz_util.hpp"
#include "zurud/zurud-print.hpp"
#include "zurud/zurud-read.hpp"

namespace {

using zurud::dist_format_type;
using zurud::dist_mat_type;
using zurud::fast_dist_mat_type;
using zurud_fuzz::check;

// Distance matrices are ntax x ntax; 256 taxa stay within max_cells.
constexpr std::int32_t max_fuzz_taxa = 256;

bool close_enough(float a, float b) {
  return std::fabs(a - b) <= 1e-5f * std::fabs(a) + 1e-37f;
}

// Labels that a layout writes unchanged and reads back whole.
bool labels_survive(const dist_mat_type& m, dist_format_type layout) {
  for (const std::string& label : m.labels) {
    if (label.empty()) return false;
    if (layout == dist_format_type::PHYLIP) {
      // Ten raw characters; a page break right after the line end before
      // them would be passed over on reading.
      if (label[0] == '\f') return false;
    }
  }
  return true;
}

void check_read_back(const dist_mat_type& m, dist_format_type layout) {
  std::string text;
  {
    zurud::text_output out(text);
    zurud::print::print_dist_mat(m, layout, out);
  }
  zurud::read::text_input in(text);
  const std::int32_t n = zurud::read::read_dist_header(in, layout);
  check(n == m.ntax(), "taxon count read back");
  dist_mat_type back(n);
  zurud::read::read_dist_mat(in, layout, back);
  check(in.exhausted(), "nothing after the rows read back");
  check(back.labels == m.labels, "labels read back");
  for (std::int32_t i = 1; i <= n; ++i)
    for (std::int32_t j = 1; j <= n; ++j)
      check(close_enough(m.distances(i, j), back.distances(i, j)),
            "distance read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 1) return 0;
  const auto layout = static_cast<dist_format_type>(data[0] % 7);
  const bool flat = data[0] / 7 % 2 == 1;
  const bool short_by_one = data[0] / 14 % 2 == 1;
  const auto text = zurud_fuzz::as_text(data + 1, size - 1);

  std::int32_t ntax;
  std::unique_ptr<dist_mat_type> square;
  try {
    zurud::read::text_input in(text);
    ntax = zurud::read::read_dist_header(in, layout);
    if (ntax > max_fuzz_taxa) return -1;
    square = std::make_unique<dist_mat_type>(ntax);
    zurud::read::read_dist_mat(in, layout, *square);
  } catch (const zurud::error&) {
    square.reset();
  }

  if (flat) {
    // The flat reader on the same text must fill the same values, or fail
    // exactly when the square one does; one value short it fails at the last.
    try {
      zurud::read::text_input in(text);
      ntax = zurud::read::read_dist_header(in, layout);
      if (ntax > max_fuzz_taxa) return -1;
      const std::int32_t want = ntax * ntax - (short_by_one ? 1 : 0);
      fast_dist_mat_type fast(ntax, want);
      zurud::read::read_fast_dist_mat(in, layout, fast);
      check(square != nullptr && !short_by_one,
            "the flat reader succeeds only where the square one does");
      check(fast.labels == square->labels, "both readers read the labels");
      for (std::int32_t k = 1; k <= want; ++k)
        check(fast.distances(k) ==
                  square->distances((k - 1) / ntax + 1, (k - 1) % ntax + 1),
              "both readers read the values");
    } catch (const zurud::error&) {
      check(square == nullptr || short_by_one,
            "the flat reader fails only where the square one does");
    }
  }
  if (square == nullptr) return 0;

  for (int out_layout = 0; out_layout < 7; ++out_layout) {
    std::string out_text;
    zurud::text_output out(out_text);
    zurud::print::print_dist_mat(*square,
                                 static_cast<dist_format_type>(out_layout), out);
  }
  // Labels read as words come back in extended PHYLIP; TAB labels (which may
  // hold blanks) in TAB; PHYLIP's ten raw characters in PHYLIP.
  dist_format_type back_layout = dist_format_type::EXTENDED_PHYLIP;
  if (layout == dist_format_type::TAB || layout == dist_format_type::PHYLIP)
    back_layout = layout;
  if (labels_survive(*square, back_layout)) check_read_back(*square, back_layout);
  return 0;
}
