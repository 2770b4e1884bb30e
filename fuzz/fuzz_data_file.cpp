// read_data_file on any input: format detection, FASTA, interleaved and
// sequential PHYLIP, NEXUS, gzip. The first byte chooses the PHYLIP label
// layout (byte % 3), interleaving (bit 2), whether cells are stored (bit 3)
// and whether the rest is gzipped before it is read (bit 4); the rest is the
// file. Oracles: a matrix that reads whole reads the same from its gzipped
// text, skimming reads the same labels and fails alike, no label is longer
// than max_word_len, and the matrix written back as sequential and as
// interleaved PHYLIP reads back to the same labels and cells.
#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/fuzz_util.hpp"
#include "tests/gzip_util.hpp"
#include "zurud/zurud-read.hpp"

namespace {

using zurud::char_format_type;
using zurud::char_mat_type;
using zurud::read::data_file_options;
using zurud::read::text_input;
using zurud_fuzz::check;

// The matrix, or null with the failure's kind.
std::unique_ptr<char_mat_type> read(std::string_view text,
                                    const data_file_options& o,
                                    std::string& kind) {
  try {
    text_input in(text);
    return zurud::read::read_data_file(in, o);
  } catch (const zurud::error& e) {
    kind = e.kind();
    return nullptr;
  }
}

bool same_cells(const char_mat_type& a, const char_mat_type& b) {
  if (a.ntax() != b.ntax() || a.nchar() != b.nchar()) return false;
  for (std::int32_t i = 1; i <= a.ntax(); ++i) {
    if (a.labels(i) != b.labels(i)) return false;
    if (std::string_view(a.discr_row(i), a.nchar()) !=
        std::string_view(b.discr_row(i), b.nchar()))
      return false;
  }
  return true;
}

// Labels that a first-word layout writes back unchanged.
bool word_labels(const char_mat_type& m) {
  for (std::int32_t i = 1; i <= m.ntax(); ++i) {
    const std::string& l = m.labels(i);
    if (l.empty()) return false;
    for (char c : l)
      if (zurud::whitespace.contains(c)) return false;
  }
  return true;
}

// Sequential rows, or interleaved blocks of `width` sites.
std::string as_phylip(const char_mat_type& m, std::size_t width) {
  const auto nchar = static_cast<std::size_t>(m.nchar());
  std::string s = std::to_string(m.ntax()) + " " + std::to_string(nchar) + "\n";
  for (std::size_t from = 0; from < nchar; from += width) {
    for (std::int32_t i = 1; i <= m.ntax(); ++i) {
      if (from == 0) s += m.labels(i) + " ";
      s.append(m.discr_row(i) + from, std::min(width, nchar - from));
      s += '\n';
    }
    s += '\n';
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 1) return 0;
  const unsigned mode = data[0];
  std::string text(zurud_fuzz::as_text(data + 1, size - 1));
  if (mode & 16) text = gzipped(text, 1);
  if (zurud_fuzz::header_too_large(zurud_fuzz::as_text(data + 1, size - 1)))
    return 0;
  static constexpr char_format_type layouts[] = {
      char_format_type::PHYLIP, char_format_type::EXTENDED_PHYLIP,
      char_format_type::COMMENTED_PHYLIP};
  data_file_options o;
  o.layout = layouts[mode % 3];
  o.interleaved = (mode & 4) != 0;
  o.cells.map = zurud::site_map;
  o.cells.store = (mode & 8) == 0;

  std::string kind, other_kind;
  const auto m = read(text, o, kind);
  data_file_options skim = o;
  skim.cells.store = !o.cells.store;
  const auto s = read(text, skim, other_kind);
  check((m == nullptr) == (s == nullptr), "storing and skimming disagree");
  if (m == nullptr) {
    check(kind == other_kind, "storing and skimming fail differently");
    return 0;
  }
  check(m->labels == s->labels, "skimming reads other labels");
  for (const std::string& label : m->labels)
    check(label.size() <= zurud::max_word_len, "labels are at most a word");
  if (!o.cells.store) return 0;

  if ((mode & 16) == 0) {
    std::string gz_kind;
    const auto g = read(gzipped(text, 1), o, gz_kind);
    check(g != nullptr && same_cells(*m, *g), "gzipped text reads otherwise");
  }
  if (!word_labels(*m)) return 0;
  data_file_options back;
  back.cells.map = zurud::site_map;
  for (const std::size_t width :
       {static_cast<std::size_t>(m->nchar()), std::size_t{7}}) {
    back.interleaved = width != static_cast<std::size_t>(m->nchar());
    std::string back_kind;
    const auto r = read(as_phylip(*m, width), back, back_kind);
    check(r != nullptr && same_cells(*m, *r), "written back, reads otherwise");
  }
  return 0;
}
