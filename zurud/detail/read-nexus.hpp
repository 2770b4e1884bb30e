// The parts of the NEXUS reader that its two sources share: commands and
// blocks in zurud-read-nexus.cpp, the matrix rows in
// zurud-read-nexus-matrix.cpp. Internal to zurud-read; not installed.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "zurud/detail/read-scan.hpp"
#include "zurud/zurud-read.hpp"

namespace zurud::read::detail::nexus {

// Tokens the reader keeps (keywords, values, labels) are short; a longer one
// is a broken file, and the cap keeps an unclosed quote from filling memory.
inline constexpr std::size_t max_token = max_line_len;
inline constexpr std::size_t shown_chars = 40;
// Runs of cells shorter than this are copied by a plain loop, not the kernels.
inline constexpr std::size_t short_run = 256;

// NEXUS punctuation: each of these is a token of its own in commands.
inline constexpr char_set punctuation{"()[]{}/\\,;:=*'\"`+-<>"};
inline constexpr char_set word_end = whitespace | punctuation;
// Labels are read more leniently than command words: writers put hyphens,
// parentheses and the like in unquoted labels, and association files hold
// them as written.
inline constexpr char_set label_end = whitespace | char_set{"[;"};
// Characters that can never be a MISSING, GAP or MATCHCHAR symbol.
inline constexpr char_set not_symbol = whitespace | char_set{"[]{}();'\""};

/// A text for messages: cut to 40 characters, control bytes as \xNN.
std::string plain(std::string_view s);
/// The same in double quotes.
std::string shown(std::string_view s);
std::string shown(char c);
/// Equal but for case (keywords).
bool same_word(std::string_view a, std::string_view b);

/// A word, a punctuation mark or quoted text of a command.
struct token {
  std::string text;
  bool quoted = false;
  bool end = false;  // the input is exhausted
  bool is(std::string_view keyword) const {
    return !quoted && !end && same_word(text, keyword);
  }
  bool is(char c) const {
    return !quoted && !end && text.size() == 1 && text[0] == c;
  }
  std::string show() const {
    return end ? "the end of the input" : shown(text);
  }
};

// Characters that always interrupt a run of plain cells in a matrix line.
inline constexpr char_set cell_stops{"[]{}();'"};

// The characters that interrupt a run of plain cells: cell_stops, the
// symbols of FORMAT and, where lines matter, the carriage return (a lone one
// ends a line). Runs are long and these are rare, so lines are scanned 16
// or 32 bytes at a time for them and the cells in between go through the
// row-scan kernels.
class stop_set {
 public:
  void reset(bool cr, std::string_view symbols) {
    set_ = cell_stops;
    extra_.fill(';');
    count_ = 0;
    if (cr) add('\r');
    for (char c : symbols) add(c);
    avx2_ = zurud::detail::use_avx2();
  }
  bool contains(char c) const { return set_.contains(c); }

  /// The offset of the first member in [p, p + n), or n.
  std::size_t find(const char* p, std::size_t n) const;

 private:
  std::size_t find_avx2(const char* p, std::size_t n) const;
  void add(char c) {
    set_.insert(static_cast<unsigned char>(c));
    extra_[count_++] = c;
  }
  char_set set_;
  // CR and the three symbols; unused places repeat ";".
  std::array<char, 4> extra_{};
  std::size_t count_ = 0;
  bool avx2_ = false;
};

/// Up to n of the next characters, line ends included (text_input::peek).
std::string_view peek(text_input& in, std::size_t n);

using read::detail::cell_case;

/// How the kernels store cells under a mapping (AS_READ for a mapping
/// they do not know).
cell_case scan_case(const char_mapping& map);

enum class row_end : std::uint8_t { FULL, LINE_END, SEMICOLON };

class nexus_reader {
 public:
  nexus_reader(text_input& in, const cell_options& cells) : in_(in) {
    use_cells(cells);
  }
  char_mat_access read();
  /// What FORMAT declared.
  const nexus_format_type& format() const { return format_; }

 private:
  // Lexical layer: blanks, comments, quoted text, tokens.
  bool skip_blank();
  void skip_comment();
  std::string quoted_text(char quote, bool one_line = false);
  token next(bool double_quotes = false);
  token need(const std::string& what, bool double_quotes = false);
  void expect(char c, const std::string& after);
  bool next_is(char c);
  void skip_command();
  std::int32_t count_value(const char* name, std::int32_t max,
                           const char* what);
  char symbol_value(const char* name);
  std::string label(const char* where);

  // Blocks and their commands.
  void skip_block(const std::string& name);
  void read_taxa_block();
  char_mat_access read_characters_block(const std::string& name);
  void read_dimensions(bool taxa_block);
  void read_format();
  void read_taxlabels();

  // The matrix.
  void read_matrix(const std::string& block);
  void read_sequential();
  void read_interleaved();
  std::int32_t add_row(const std::string& name);
  void add_spelling(const std::string& name, std::int32_t row);
  std::int32_t respelled_row(const std::string& name) const;
  std::int32_t interleaved_row(std::int32_t next, bool later);
  [[noreturn]] void unknown_label(const std::string& name, bool later);
  row_end fill(std::int32_t t, bool line_bound);
  void read_set(char open, std::int32_t t);
  row_end rest_of_line();
  std::string row_name(std::int32_t t) const;
  char* row_cells(std::int32_t t);
  char_mat_access matrix();
  [[noreturn]] void unexpected(char c, std::int32_t t);

  void use_cells(const cell_options& cells);

  text_input& in_;
  cell_options cells_;
  cell_case how_ = cell_case::AS_READ;
  bool remap_ = false;  // the kernels store as read; the map comes after
  nexus_format_type format_;

  std::int32_t taxa_ntax_ = 0;  // from a TAXA block
  std::int32_t ntax_ = 0;       // from the DATA or CHARACTERS block
  std::int32_t nchar_ = 0;
  std::vector<std::string> taxlabels_;
  bool interleave_ = false;
  // '\0': not declared. NEXUS has "?" for missing data by default.
  char missing_ = '?', gap_ = '\0', match_ = '\0';
  stop_set stops_;

  char_mat_access m_;  // null while rows are kept unreserved
  std::optional<row_store> unreserved_;
  tax_lab_type labels_;
  std::unordered_map<std::string, std::int32_t> index_;  // label -> 0-based
  // The labels with "_" read as a blank -> 0-based row, -1 where two labels
  // share that spelling.
  std::unordered_map<std::string, std::int32_t> spelled_;
  std::vector<std::int32_t> filled_;                     // cells per row
  std::vector<bool> seen_;                               // row has begun
  std::int32_t labelled_ = 0;  // rows with a label (TAXLABELS or MATRIX)
  std::int32_t rows_ = 0;      // rows met in the MATRIX so far
  std::int32_t first_ = -1;    // the row that match characters refer to
};

}  // namespace zurud::read::detail::nexus
