// Writing matrices: labels in every layout, number texts, the character
// matrix writer with its column ruler, the NEXUS command footer, the
// sequence writer and the distance matrix writer. Every writer takes the
// text_output to write to, standard output by default.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "zurud/zurud.hpp"

namespace zurud::print {

/// Sequences of different lengths handed to the sequence writer.
class unaligned_error : public error {
 public:
  unaligned_error() : error("sequences are not aligned") {}
  using error::error;
  const char* kind() const noexcept override { return "unaligned_error"; }
};

/// The integer text: one blank before a value of zero or more (" 2", "-99").
void put_integer(text_output& out, std::int64_t value);
/// The real text of C's "% .5E" for the float widened to double:
/// " 1.00000E+00", "-9.90000E+01"; -0.0 is written as 0.0, infinities as
/// " INF"/"-INF" and not-a-number as " NAN".
void put_real(text_output& out, float value);
/// The same text as a string (12 characters for finite values).
std::string real_image(float value);

/// The label cleaned for NEXUS: characters outside nexus_label_set dropped
/// from both ends, the rest of them turned into "_". May be empty.
std::string to_nexus_label(std::string_view label);

/// Writes one label for a character-matrix layout, without a separator:
/// PHYLIP: unchanged, padded or cut to 10 (width unused); EXTENDED_PHYLIP and
/// COMMENTED_PHYLIP: blanks to "_", padded or cut to width; NEXUS:
/// to_nexus_label, padded or cut to width; NEXUS_ENCLOSED: "'" label "'" with
/// inner single quotes turned into back quotes, padded or cut to width.
void print_label(std::string_view label, char_format_type layout,
                 std::size_t width, text_output& out = standard_output());
/// The same for a distance-matrix layout: as above for PHYLIP,
/// EXTENDED_PHYLIP, NEXUS and NEXUS_ENCLOSED (single quotes inside become back
/// quotes here too, so the quoted label stays well formed); TAB, ONE_COLUMN
/// and RAW write it unchanged and unpadded.
void print_label(std::string_view label, dist_format_type layout,
                 std::size_t width, text_output& out = standard_output());

/// Length of the longest label, at least 1 (an empty array gives 1).
/// range_error for an empty label.
std::int32_t max_label_length(const tax_lab_type& labels);
std::int32_t max_label_length(const sequence_vecs& sequences);

/// The two NEXUS ruler lines: "[" padded to width, TAB, the numbers 10, 20,
/// ... right-aligned in ten columns up to the first above nchar, "]"; then
/// the same with nine blanks and "." per number.
void print_char_nums(std::int32_t nchar, std::int32_t width,
                     text_output& out = standard_output());

/// The 19-line NEXUS footer for NEXUS and NEXUS_ENCLOSED; nothing otherwise.
void print_footer(char_format_type layout,
                  text_output& out = standard_output());

/// Writes a character matrix in a layout: header (with the matrix comment in
/// COMMENTED_PHYLIP and NEXUS), a ruler for discrete NEXUS, one row per
/// taxon (label, row comment where the layout has one, cells), footer.
/// range_error for an empty label (except in PHYLIP, which measures none).
void print_char_mat(const char_mat_type& matrix, char_format_type layout,
                    text_output& out = standard_output());

/// Writes aligned sequences as a character matrix: as above with no comments,
/// the label and residues of each sequence as a row, the ruler in both NEXUS
/// layouts (always datatype=nucleotide). Before writing anything, throws
/// unaligned_error when the residues differ in length and range_error for an
/// empty vector, more than 5000 sequences or a first sequence with no residues
/// or more than 1048576; an empty label is a range_error (except in PHYLIP).
void print_char_mat(const sequence_vecs& sequences, char_format_type layout,
                    text_output& out = standard_output());

/// Writes a square distance matrix in a layout: PHYLIP and EXTENDED_PHYLIP
/// head it with the taxon count, TAB with a row of labels, the NEXUS layouts
/// wrap it in a distances block and their own 15-line command block; each row
/// is the label and every distance (real text, TAB before each). ONE_COLUMN
/// writes instead one line "label_i TAB label_j TAB distance" per pair i > j;
/// RAW writes only the rows. range_error for an empty label where a width is
/// measured (every layout but PHYLIP and ONE_COLUMN).
void print_dist_mat(const dist_mat_type& matrix, dist_format_type layout,
                    text_output& out = standard_output());

/// Replaces every cell of a DISCR matrix by its image under `map`; QUANT and
/// CNTCH matrices stay as they are.
void convert_chars(char_mat_type& matrix, const char_mapping& map);

}  // namespace zurud::print
