// The association table between its two stages: what read_assoc_table
// (zurud-hostpara-table.cpp) found and resolve_assocs
// (zurud-hostpara-resolve.cpp) decides on. Internal to zurud-hostpara; not
// installed.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zurud/detail/flat-index.hpp"
#include "zurud/zurud-hostpara.hpp"
#include "zurud/zurud-read.hpp"

namespace zurud::hostpara::detail {

using zurud::detail::combine_hash;
using zurud::detail::flat_index;
using zurud::detail::text_hash;

// Longest field kept, as for words elsewhere.
inline constexpr std::size_t max_field = max_line_len;
// Characters of a line's rest that a notice shows.
inline constexpr std::size_t shown_rest = 40;

// A text in the table's arena: its offset and length in one word, so that a
// million pairs cost little more than their names.
struct text_ref {
  std::uint64_t packed = 0;
  static text_ref make(std::size_t at, std::size_t size) {
    return {(static_cast<std::uint64_t>(at) << 16) | size};
  }
  std::size_t at() const { return static_cast<std::size_t>(packed >> 16); }
  std::size_t size() const { return static_cast<std::size_t>(packed & 0xFFFF); }
};

// A pair as the table gives it: associate, host, the field after the host,
// the line of the host, and whether more than the pair stood on that line.
struct table_pair {
  text_ref para, host, value;
  std::int64_t line = 0;
  bool extra = false;
};

// A line of an incidence matrix: its label, and its cells from first_cell
// on in table_data::cells (as many as there are columns; missing ones 0).
struct incidence_row {
  text_ref label;
  std::int64_t line = 0;
  std::size_t first_cell = 0;
};

struct table_data {
  std::string name;
  std::string arena;
  assoc_shape shape = assoc_shape::WORDS;
  char separator = 0;
  std::int64_t first_line = 0;  // the first line that is not blank

  // WORDS and DELIMITED.
  std::vector<table_pair> pairs;
  std::string header_text;  // the first line's fields, for a notice
  // pairs[0] stems from the first line, which may be a header.
  bool header_candidate = false;
  // A last associate without a host, and its line.
  bool dangling = false;
  text_ref dangling_para;
  std::int64_t dangling_line = 0;
  // The rest of the line after the first two pairs noted extra (a header
  // may take the first).
  std::array<std::string, 2> extra_text;
  std::array<std::size_t, 2> extra_pair{};
  std::size_t extra_kept = 0;

  // INCIDENCE: column labels, rows, and one cell code a row and column; a
  // code indexes cell_texts and cell_ones (whether the cell is a pair). An
  // abundance matrix holds numbers other than 0 and 1 (read counts).
  std::vector<text_ref> columns;
  std::vector<incidence_row> rows;
  std::vector<std::uint32_t> cells;
  std::vector<std::string> cell_texts;
  std::vector<bool> cell_ones;
  std::size_t ones = 0;
  bool abundances = false;

  // Notices of what the file alone told, in the order they are given.
  std::vector<std::string> notices;

  std::string_view text(text_ref r) const {
    return std::string_view(arena).substr(r.at(), r.size());
  }
  text_ref keep(std::string_view s) {
    const text_ref r = text_ref::make(arena.size(), s.size());
    arena.append(s);
    return r;
  }
  // "name, line n: " or "name: ", as notices begin.
  std::string where(std::int64_t line) const {
    return name + (line > 0 ? ", line " + std::to_string(line) : "") + ": ";
  }
};

// ---------------------------------------------------------------------------
// Resolving, the run's way (zurud-hostpara-resolve.cpp): the pairs as views,
// without a tree of strings, for tables of 10^5 pairs and more.

// The data file's labels as a run holds them: views into its label strings,
// PHYLIP padding off; row i + 1 is labels[i].
class label_index {
 public:
  // constraint_error "attempt to insert key already in map" for a label met
  // twice, naming it (as written) and both rows. `labels` must outlive the
  // index.
  void build(const std::vector<std::string>& labels, bool trim);
  // The row of `name`, or 0.
  std::int32_t find(std::string_view name) const {
    const std::uint32_t e = index_.find(
        text_hash(name), [&](std::uint32_t k) { return names_[k] == name; });
    return e == flat_index::none ? 0 : static_cast<std::int32_t>(e + 1);
  }
  std::size_t size() const noexcept { return names_.size(); }
  std::string_view name(std::size_t k) const { return names_[k]; }
  void clear() {
    names_ = {};
    index_.clear();
  }

 private:
  std::vector<std::string_view> names_;
  flat_index index_;
};

// A pair as resolved: the associate's label (its name as written when it is
// no label, or without labels), the host, the third field and the line; the
// label's row, 0 when none. The views point into the table and the labels.
struct resolved_pair {
  std::string_view para, host, value;
  std::int64_t line = 0;
  std::int32_t row = 0;
};

// resolve_assocs with `labels` (or none), the pairs left in `pairs` in file
// order, `res` given everything but its assocs and sources. The same
// decisions, notices and failures as resolve_assocs.
//
// `known_rows`, when not empty, comes from resolving the same table without
// labels, which succeeded: for each of its pairs (the table's pairs, a
// header included) the row whose label is the associate's name exactly, or
// 0 where that is not known. Those names are then not looked up again, and
// pairs met twice are sought only once a name matched loosely (no other
// change of names can make two pairs one).
void resolve_pairs(const assoc_table& table, const label_index* labels,
                   const assoc_resolve_options& options, text_output& err,
                   resolved_assocs& res, std::vector<resolved_pair>& pairs,
                   std::span<const std::int32_t> known_rows = {});

// The associations of `pairs` (resolved: no pair twice) into res.assocs,
// and with `sources` their sources in file order into res.sources, as
// resolve_assocs gives them.
void fill_assocs(const std::vector<resolved_pair>& pairs, bool sources,
                 resolved_assocs& res);

// ---------------------------------------------------------------------------
// The text of a table (zurud-hostpara-table-text.cpp).

// A line longer than this is no table a person keeps; the cap bounds the
// memory that one line can take.
inline constexpr std::size_t max_line = std::size_t{1} << 26;

// A format_error of the table at `line`.
[[noreturn]] void refuse(const std::string& what, std::int64_t line,
                         const std::string& detail);
// Up to 40 characters of `s`, for messages.
std::string shown(std::string_view s);

inline bool is_white(char c) { return whitespace.contains(c); }
// `s` without whitespace at either end.
std::string_view trim(std::string_view s);

enum class utf16 : std::uint8_t { NONE, LITTLE, BIG };

// At the start of `in`: passes over a byte order mark (UTF-8 or UTF-16,
// `mark` true) and tells UTF-16 by it, or by a zero byte beside each of the
// first two characters where a spreadsheet left the mark out.
utf16 sniff_encoding(read::text_input& in, bool& mark);
// The rest of `in`, UTF-16 in the byte order given, as UTF-8. format_error
// for an odd number of bytes or a surrogate without its partner.
std::string decode_utf16(read::text_input& in, bool big,
                         std::int64_t first_line);

// Lines of an input. A line ends at a line feed, a carriage return and line
// feed, or a carriage return alone (as some spreadsheets save).
class line_source {
 public:
  line_source(read::text_input& in, std::int64_t line_before)
      : in_(in), line_(line_before) {}
  // The next line without its end; false at the end of the input. The view
  // stays valid until the next call. format_error for a line longer than
  // max_line.
  bool next(std::string_view& out);
  // The number of the line last given.
  std::int64_t line() const { return line_; }

 private:
  read::text_input& in_;
  std::int64_t line_;
  std::size_t owed_ = 0;  // the line just given and its end, not consumed yet
  std::string buf_;
};

// A field of a line: its text (unquoted), whether it was quoted, and where
// it ends in the line (its separator, or the whitespace after a word).
struct field {
  std::string_view text;
  bool quoted = false;
  std::size_t end = 0;
};

class splitter {
 public:
  // Splits `line` (number `no`) into fields: at `sep` (TAB, ',' or ';'),
  // trimmed of whitespace, an empty field a field; or at runs of
  // whitespace when sep is 0. With `quotes`, a field that starts with a
  // double quote runs to its closing quote ("" is a quote inside); text
  // after the closing quote, up to the separator, is kept too, as
  // spreadsheets read it. The views stay valid until the next call.
  // format_error for a field longer than max_field or a quote not closed
  // on its line.
  void split(std::string_view line, char sep, bool quotes, std::int64_t no,
             std::vector<field>& out);

 private:
  field quoted(std::size_t& i, char sep);
  field checked(field f) const;
  std::string_view line_;
  std::int64_t no_ = 0;
  std::string scratch_;
};

}  // namespace zurud::hostpara::detail
