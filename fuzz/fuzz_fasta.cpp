// read_fasta on the whole input, then is_aligned and the sequence writer in
// every layout. Stored residues are cleaned: no whitespace, no ".", nothing
// outside wide_nuc_set; labels have no whitespace at either end and no
// control characters. Residues with labels that are words read back from
// extended PHYLIP unchanged.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_util.hpp"
#include "zurud/zurud-print.hpp"
#include "zurud/zurud-read.hpp"

namespace {

using zurud::char_format_type;
using zurud::sequence_vecs;
using zurud_fuzz::check;

bool is_word(const std::string& label) {
  if (label.empty()) return false;
  for (char c : label)
    if (zurud::whitespace.contains(c)) return false;
  return true;
}

void check_read_back(const sequence_vecs& sequences) {
  std::string text;
  {
    zurud::text_output out(text);
    zurud::print::print_char_mat(sequences, char_format_type::EXTENDED_PHYLIP,
                                 out);
  }
  zurud::read::text_input in(text);
  const auto h = zurud::read::read_header(in);
  check(h.ntax == sequences.size(), "sequence count read back");
  zurud::char_mat_type m(h.ntax, h.nchar, zurud::matrix_type::DISCR);
  zurud::read::read_char_mat(in, char_format_type::EXTENDED_PHYLIP, m);
  for (std::int32_t i = 1; i <= m.ntax(); ++i) {
    check(m.labels(i) == sequences(i).label, "label read back");
    check(std::string_view(m.discr_row(i), static_cast<std::size_t>(m.nchar())) ==
              sequences(i).residues,
          "residues read back");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  zurud::read::text_input in(zurud_fuzz::as_text(data, size));
  sequence_vecs sequences;
  try {
    zurud::read::read_fasta(in, sequences);
  } catch (const zurud::error&) {
    // The sequences stored before the failure stay; they are checked below.
  }
  bool words = true;
  for (const auto& s : sequences) {
    for (char c : s.residues)
      check(zurud::wide_nuc_set.contains(c), "residues are cleaned");
    check(s.spare_text.empty(), "spare text stays empty");
    check(s.residues.size() <= static_cast<std::size_t>(zurud::max_chars),
          "no sequence outgrows the largest row");
    for (char c : s.label)
      check(static_cast<unsigned char>(c) >= 32 && c != 127,
            "labels hold no control characters");
    if (!s.label.empty()) {
      check(!zurud::whitespace.contains(s.label.front()) &&
                !zurud::whitespace.contains(s.label.back()),
            "labels are trimmed");
    }
    words = words && is_word(s.label);
  }
  bool aligned = false;
  try {
    aligned = zurud::read::is_aligned(sequences);
  } catch (const zurud::range_error&) {
    check(sequences.empty() || sequences(1).residues.empty(),
          "is_aligned fails only without residues to compare");
    return 0;
  }
  for (int layout = 0; layout < 5; ++layout) {
    std::string text;
    bool failed = false;
    {
      zurud::text_output out(text);
      try {
        zurud::print::print_char_mat(
            sequences, static_cast<char_format_type>(layout), out);
        check(aligned, "only aligned sequences are written");
      } catch (const zurud::print::unaligned_error&) {
        check(!aligned, "aligned sequences are written");
        failed = true;
      } catch (const zurud::range_error&) {
        // Empty labels, or sequences longer than a matrix row.
        failed = true;
      }
    }
    if (failed) check(text.empty(), "nothing is written before a failure");
  }
  if (aligned && words &&
      sequences(1).residues.size() <= static_cast<std::size_t>(zurud::max_chars))
    check_read_back(sequences);
  return 0;
}
