// Writing matrices: labels in every layout, number texts, the character
// matrix writer with its column ruler, the NEXUS command footer, the
// sequence writer and the distance matrix writer. Every writer takes the
// text_output to write to, standard output by default.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

/// How a character-matrix layout writes each part of a matrix; the one place
/// where a layout's rules live.
struct layout_rules {
  enum class comment_style : std::uint8_t {
    NONE,     // comments are not written
    TRIMMED,  // after the dimensions when not empty; before each row's cells
              // always, blanks turned into "_"; TAB, blank and brackets cut
              // from both ends
    BRACED,   // a line of its own after "#NEXUS"; after each row's cells
              // when not empty; brackets turned into braces
  };
  /// NEXUS: "#NEXUS" and a data block (with the column ruler for DISCR
  /// cells) before the rows, the command block after them; otherwise the
  /// dimensions line of the PHYLIP family and nothing after the rows.
  bool nexus;
  /// Label field: fixed_width characters when not 0, else the longest label
  /// plus quote_width.
  std::size_t fixed_width;
  std::size_t quote_width;
  comment_style comments;
};

/// The rules of a layout.
const layout_rules& rules_of(char_format_type layout);

/// The label field width of a layout: 10 for PHYLIP, else max_label_length
/// (+2 for NEXUS_ENCLOSED). range_error for an empty label (not in PHYLIP).
std::size_t label_width(const tax_lab_type& labels, char_format_type layout);
std::size_t label_width(const sequence_vecs& sequences,
                        char_format_type layout);

namespace detail {
class real_texts;
}

/// Writes a character matrix a piece at a time: put_header, then for each
/// row put_row_start, put_cells (as often as needed, the cells in order) and
/// put_row_end, then put_footer. Rows may be written into different outputs
/// and joined in order; the text is the same as print_char_mat's. A copy
/// writes the same layout with a cache of its own (one per thread).
class char_mat_writer {
 public:
  /// Without `comments`, no comment is written in any layout (the
  /// sequence writer's matrices have none). DISCR cells are of `alphabet`,
  /// which the NEXUS layouts declare.
  char_mat_writer(char_format_type layout, matrix_type type,
                  std::size_t label_width, bool comments = true,
                  const alphabet_type& alphabet = alphabet_type::dna());
  char_mat_writer(const char_mat_writer& other);
  char_mat_writer& operator=(const char_mat_writer&) = delete;
  ~char_mat_writer();

  /// Names the columns of QUANT cells in the NEXUS layouts' header (a
  /// CHARLABELS command; the other layouts name none): with `per_site`
  /// columns a site, column c (from 0) is site c / per_site.size() + 1, "_"
  /// and per_site[c % per_site.size()] ("1_a 1_c 1_g 1_t 2_a ..."); a name
  /// holding a NEXUS punctuation mark is quoted ('1_-').
  void name_columns(std::vector<std::string> per_site) {
    column_names_ = std::move(per_site);
  }
  /// Dimensions and, by the layout, the matrix comment, the column names
  /// and the ruler.
  void put_header(text_output& out, std::int32_t ntax, std::int32_t nchar,
                  std::string_view comment) const;
  /// The label, the row comment where the layout puts it before the cells,
  /// and for DISCR cells their TAB.
  void put_row_start(text_output& out, std::string_view label,
                     std::string_view comment) const;
  /// DISCR cells one after another; QUANT cells as TAB and real text; CNTCH
  /// cells as TAB and integer text. The type must be the writer's.
  void put_cells(text_output& out, const char* cells, std::size_t n) const;
  /// DISCR cells with the polymorphisms among them ("?" in `cells`, their
  /// sites counted from cells[0], ascending): the NEXUS layouts write each
  /// as its states in braces ("{01}"); the others, which cannot hold one,
  /// write "?" and count it in missing_polymorphisms().
  void put_cells(text_output& out, const char* cells, std::size_t n,
                 std::span<const polymorphic_cell> polymorphisms);
  void put_cells(text_output& out, const float* cells, std::size_t n);
  void put_cells(text_output& out, const std::int32_t* cells,
                 std::size_t n) const;
  /// The row comment where the layout puts it after the cells, and the line
  /// end.
  void put_row_end(text_output& out, std::string_view comment) const;
  /// The NEXUS command block, or nothing.
  void put_footer(text_output& out) const;
  /// The polymorphisms this writer wrote as "?" (a copy starts at 0).
  std::int64_t missing_polymorphisms() const noexcept {
    return missing_polymorphisms_;
  }

 private:
  char_format_type layout_;
  layout_rules rules_;
  matrix_type type_;
  std::size_t width_;
  alphabet_type alphabet_;
  std::vector<std::string> column_names_;
  std::int64_t missing_polymorphisms_ = 0;
  std::unique_ptr<detail::real_texts> reals_;
};

/// Writes a character matrix in a layout: header (with the matrix comment in
/// COMMENTED_PHYLIP and NEXUS), a ruler for discrete NEXUS, one row per
/// taxon (label, row comment where the layout has one, cells), footer.
/// range_error for an empty label (except in PHYLIP, which measures none).
/// DISCR cells are nucleotides, or of `alphabet`.
void print_char_mat(const char_mat_type& matrix, char_format_type layout,
                    text_output& out = standard_output());
void print_char_mat(const char_mat_type& matrix, char_format_type layout,
                    const alphabet_type& alphabet,
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
