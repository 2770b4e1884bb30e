// read_nexus_matrix on the whole input. The mapping reader (site_map) and
// the skimming one must succeed or fail with the first, and stop at the same
// place; mapped cells are the plain cells mapped, skimmed labels the same. A
// matrix read whole is written in the NEXUS layout with quoted labels and
// read again: the labels come back (single quotes as back quotes) and so do
// the cells.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_util.hpp"
#include "zurud/zurud-print.hpp"
#include "zurud/zurud-read.hpp"

namespace {

using zurud::char_format_type;
using zurud::char_mat_access;
using zurud::char_mat_type;
using zurud_fuzz::check;

struct outcome {
  char_mat_access matrix;
  std::string failure;  // kind and message; empty on success
  std::int64_t stop = 0;
};

outcome read(std::string_view text, const zurud::read::cell_options& cells) {
  outcome o;
  zurud::read::text_input in(text);
  try {
    o.matrix = zurud::read::read_nexus_matrix(in, cells);
  } catch (const zurud::error& e) {
    o.failure = std::string(e.kind()) + ": " + e.what();
  }
  o.stop = in.position();
  return o;
}

void check_read_back(const char_mat_type& m) {
  std::string text;
  {
    zurud::text_output out(text);
    zurud::print::print_char_mat(m, char_format_type::NEXUS_ENCLOSED, out);
  }
  const outcome back = read(text, {});
  check(back.failure.empty(), "the NEXUS written reads back");
  check(back.matrix->ntax() == m.ntax() && back.matrix->nchar() == m.nchar(),
        "the shape reads back");
  for (std::int32_t i = 1; i <= m.ntax(); ++i) {
    std::string label = m.labels(i);
    for (char& c : label)
      if (c == '\'') c = '`';
    check(back.matrix->labels(i) == label, "labels read back");
    check(std::string_view(back.matrix->discr_row(i),
                           static_cast<std::size_t>(m.nchar())) ==
              std::string_view(m.discr_row(i),
                               static_cast<std::size_t>(m.nchar())),
          "cells read back");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const auto text = zurud_fuzz::as_text(data, size);
  if (zurud_fuzz::numbers_too_large(text)) return -1;
  const outcome plain = read(text, {});
  const outcome mapped = read(text, {zurud::site_map, true});
  const outcome skimmed = read(text, {zurud::site_map, false});
  check(mapped.failure == plain.failure && skimmed.failure == plain.failure,
        "the mapping and skimming readers fail where the plain one does");
  check(mapped.stop == plain.stop && skimmed.stop == plain.stop,
        "the readers stop at the same place");
  if (!plain.failure.empty()) return 0;
  const char_mat_type& m = *plain.matrix;
  check(skimmed.matrix->labels == m.labels, "skimmed labels");
  for (std::int32_t i = 1; i <= m.ntax(); ++i) {
    check(!m.labels(i).empty(), "labels are never empty");
    for (std::int32_t j = 1; j <= m.nchar(); ++j)
      check(mapped.matrix->discr(i, j) == zurud::site_map(m.discr(i, j)),
            "mapped cells are the plain cells mapped");
  }
  check_read_back(m);
  return 0;
}
