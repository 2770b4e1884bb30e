// read_header + read_char_mat. The first byte chooses the input layout
// (byte % 5) and the cell type (byte / 5 % 3: QUANT, DISCR, CNTCH); the rest
// is the file. DISCR rows must read as a plain reader built from the
// primitive operations reads them, which checks the row fast paths (plain,
// lower-casing and skimming). A matrix
// that reads whole is printed in every layout, and where its labels are
// words it is printed in extended PHYLIP and read back: labels and DISCR or
// CNTCH cells must come back exactly, QUANT cells to the six digits printed.
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/fuzz_util.hpp"
#include "zurud/zurud-print.hpp"
#include "zurud/zurud-read.hpp"

namespace {

using zurud::char_format_type;
using zurud::char_mat_type;
using zurud::matrix_type;
using zurud_fuzz::check;

bool close_enough(float a, float b) {
  return std::fabs(a - b) <= 1e-5f * std::fabs(a) + 1e-37f;
}

// The DISCR reader one character at a time: label, cells as get_black with
// whitespace, then the rest of the line. Returns false where it fails.
bool read_plainly(std::string_view text, char_format_type layout,
                  char_mat_type& m) {
  try {
    zurud::read::text_input in(text);
    zurud::read::read_header(in);
    const auto labels = zurud::read::label_layout(layout);
    for (std::int32_t i = 1; i <= m.ntax(); ++i) {
      m.labels(i) = zurud::read::read_label(in, labels);
      for (std::int32_t j = 1; j <= m.nchar(); ++j)
        m.discr(i, j) = zurud::read::get_black(in, zurud::whitespace);
      if (!in.exhausted()) in.skip_line();
    }
  } catch (const zurud::error&) {
    return false;
  }
  return true;
}

// The lower-casing reader and the skimming one read the same input as far
// and fail alike; their cells and labels are those of the plain reader
// (lower-cased), or its labels only.
void check_other_paths(std::string_view text, char_format_type layout,
                       const zurud::read::header_type& h,
                       const char_mat_type* plain) {
  char_mat_type lower(h.ntax, h.nchar, matrix_type::DISCR);
  char_mat_type skimmed(h.ntax, h.nchar, matrix_type::DISCR);
  std::int64_t lower_end = 0, skim_end = 0;
  bool lower_ok = true, skim_ok = true;
  try {
    zurud::read::text_input in(text);
    zurud::read::read_header(in);
    zurud::read::read_char_mat(in, layout, lower, zurud::lower_case_map);
    lower_end = in.line();
  } catch (const zurud::error&) {
    lower_ok = false;
  }
  try {
    zurud::read::text_input in(text);
    zurud::read::read_header(in);
    zurud::read::skim_char_mat(in, layout, skimmed);
    skim_end = in.line();
  } catch (const zurud::error&) {
    skim_ok = false;
  }
  check(lower_ok == (plain != nullptr) && skim_ok == (plain != nullptr),
        "every reader fails where the plain one does");
  if (plain == nullptr) return;
  check(lower_end == skim_end, "the readers stop at the same line");
  check(lower.labels == plain->labels && skimmed.labels == plain->labels,
        "every reader reads the same labels");
  for (std::int32_t i = 1; i <= h.ntax; ++i)
    for (std::int32_t j = 1; j <= h.nchar; ++j)
      check(lower.discr(i, j) == zurud::lower_case_map(plain->discr(i, j)),
            "the lower-casing reader maps every cell");
}

void check_read_back(const char_mat_type& m) {
  std::string text;
  {
    zurud::text_output out(text);
    zurud::print::print_char_mat(m, char_format_type::EXTENDED_PHYLIP, out);
  }
  zurud::read::text_input in(text);
  const auto h = zurud::read::read_header(in);
  check(h.ntax == m.ntax() && h.nchar == m.nchar(), "header read back");
  char_mat_type back(h.ntax, h.nchar, m.char_type());
  zurud::read::read_char_mat(in, char_format_type::EXTENDED_PHYLIP, back);
  check(in.exhausted(), "nothing after the rows read back");
  check(back.labels == m.labels, "labels read back");
  if (m.char_type() != matrix_type::QUANT) {
    check(back == m, "cells read back");
    return;
  }
  for (std::int32_t i = 1; i <= m.ntax(); ++i)
    for (std::int32_t j = 1; j <= m.nchar(); ++j)
      check(close_enough(m.quant(i, j), back.quant(i, j)),
            "real cell read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 1) return 0;
  const auto layout = static_cast<char_format_type>(data[0] % 5);
  const auto type = static_cast<matrix_type>(data[0] / 5 % 3);
  const auto text = zurud_fuzz::as_text(data + 1, size - 1);
  zurud::read::text_input in(text);
  std::unique_ptr<char_mat_type> m;
  std::unique_ptr<char_mat_type> plain;
  try {
    const auto h = zurud::read::read_header(in);
    if (std::int64_t{h.ntax} * h.nchar > zurud_fuzz::max_cells) return -1;
    m = std::make_unique<char_mat_type>(h.ntax, h.nchar, type);
    if (type == matrix_type::DISCR) {
      plain = std::make_unique<char_mat_type>(h.ntax, h.nchar, type);
      if (!read_plainly(text, layout, *plain)) plain.reset();
      check_other_paths(text, layout, h, plain.get());
    }
    zurud::read::read_char_mat(in, layout, *m);
  } catch (const zurud::error&) {
    check(plain == nullptr, "the row reader fails where the plain one does");
    return 0;
  }
  if (type == matrix_type::DISCR)
    check(plain != nullptr && *plain == *m,
          "the row reader reads what the plain one does");

  for (const std::string& label : m->labels)
    check(!label.empty(), "a label read is never empty");
  // A matrix read whole prints in every layout without failing.
  for (int out_layout = 0; out_layout < 5; ++out_layout) {
    std::string text;
    zurud::text_output out(text);
    zurud::print::print_char_mat(
        *m, static_cast<char_format_type>(out_layout), out);
  }
  // PHYLIP labels are ten raw characters (blanks and control characters
  // included), which extended PHYLIP cannot carry.
  if (layout != char_format_type::PHYLIP) check_read_back(*m);
  return 0;
}
