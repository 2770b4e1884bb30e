#include "zurud/zurud-read.hpp"

#include <algorithm>
#include <charconv>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace zurud::read {

// ---------------------------------------------------------------------------
// Distance matrices.

label_format_type label_layout(dist_format_type layout) {
  switch (layout) {
    case dist_format_type::PHYLIP:
      return label_format_type::PHYLIP;
    case dist_format_type::TAB:
      return label_format_type::TAB_SEPARATED;
    default:
      return label_format_type::EXTENDED_PHYLIP;
  }
}

namespace {

// A distance read in double precision, rounded to the single precision it is
// stored in. The range is that of the rounded value: the text
// 3.40282347E+38 is a little above the largest float as a double, yet it
// names it. Doubles from halfway to the next power of two upwards would
// round to infinity and are refused before the conversion.
float to_distance(double v) {
  constexpr double overflow = static_cast<double>(max_float) + 0x1p103;
  if (v < 0.0 || v >= overflow) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v);
    throw range_error("distance " + std::string(text, r.ptr) +
                      " outside 0.0 .. 3.40282347E+38");
  }
  return static_cast<float>(v);
}

std::string quoted(std::string_view s) {
  return "\"" + std::string(s.substr(0, 40)) + (s.size() > 40 ? "...\"" : "\"");
}

// Row i's label differs from column i's: the distances of the file would be
// paired with the wrong associates. `hint` may say why.
format_error label_mismatch(std::int32_t i, std::string_view row,
                            std::string_view column, std::string_view hint) {
  std::string detail =
      "the column labels must equal the row labels, in the same order";
  if (!hint.empty()) detail += ": " + std::string(hint);
  return format_error("the row label " + quoted(row) + " differs from column " +
                          std::to_string(i) + "'s " + quoted(column),
                      detail);
}

// The column labels of a header, and what to say when row 1 differs.
struct header_columns {
  std::vector<std::string> labels;
  std::string hint;
};

// Reads every row of a square matrix; store(i, j, v) keeps value j of row i.
// With `columns`, each row's label must equal its column's.
template <typename Store>
void read_dist_rows(text_input& in, dist_format_type layout,
                    tax_lab_type& labels, std::int32_t ntax, Store store,
                    const header_columns* columns = nullptr) {
  const label_format_type label_format = label_layout(layout);
  std::int32_t i = 1;
  try {
    for (; i <= ntax; ++i) {
      labels(i) = read_label(in, label_format);
      if (columns != nullptr) {
        const std::string& column = columns->labels[i - 1];
        if (labels(i) != column)
          throw label_mismatch(i, labels(i), column,
                               i == 1 ? columns->hint : "");
      }
      for (std::int32_t j = 1; j <= ntax; ++j)
        store(i, j, to_distance(in.read_real()));
      if (!in.exhausted()) in.skip_line();
    }
  } catch (error& e) {
    e.add_detail("row " + std::to_string(i) + " of " + std::to_string(ntax));
    throw;
  }
}

// An input of nothing but whitespace: said as such, rather than as a count
// or a line missing. Looks at most a page ahead and consumes nothing.
void refuse_empty(text_input& in) {
  const std::string_view ahead = in.peek(4096);
  if (ahead.size() == 4096) return;
  for (const char c : ahead)
    if (!whitespace.contains(c)) return;
  throw end_of_file_error("the distance file is empty");
}

}  // namespace

void read_dist_mat(text_input& in, dist_format_type layout,
                   dist_mat_type& matrix) {
  read_dist_rows(in, layout, matrix.labels, matrix.ntax(),
                 [&](std::int32_t i, std::int32_t j, float v) {
                   matrix.distances.set(i, j, v);
                 });
}

void read_fast_dist_mat(text_input& in, dist_format_type layout,
                        fast_dist_mat_type& matrix) {
  std::int32_t k = 0;
  // set() refuses a k beyond the size, after its value has been read.
  read_dist_rows(in, layout, matrix.labels, matrix.ntax(),
                 [&](std::int32_t, std::int32_t, float v) {
                   matrix.distances.set(++k, v);
                 });
}

dist_mat_access read_dist_file(text_input& in, dist_format_type layout) {
  in.skip_byte_order_mark();
  refuse_empty(in);
  if (layout != dist_format_type::TAB) {
    auto matrix = std::make_unique<dist_mat_type>(read_dist_header(in, layout));
    read_dist_mat(in, layout, *matrix);
    return matrix;
  }
  // The header line of TAB holds a TAB before each column label; the labels
  // are kept to be checked against the rows'.
  const std::int64_t header_line = in.line();
  std::string line = read_tab_header(in);
  if (!line.empty() && line.back() == '\r') line.pop_back();  // CR LF
  header_columns columns;
  for (std::size_t tab = line.find('\t'); tab != std::string::npos;) {
    const std::size_t next = line.find('\t', tab + 1);
    columns.labels.emplace_back(
        line, tab + 1, next == std::string::npos ? next : next - tab - 1);
    if (columns.labels.back().size() > max_word_len) {
      format_error e = long_word_error(columns.labels.back());
      e.set_line(header_line);
      throw e;
    }
    tab = next;
  }
  const auto n = static_cast<std::int64_t>(columns.labels.size());
  if (n < 1 || n > max_taxa)
    throw range_error("taxon count " + std::to_string(n) + " outside 1..5000");
  // R's write.table, among others, leaves out the empty first cell.
  if (line[0] != '\t')
    columns.hint =
        "the first line does not start with a TAB; a header without an empty "
        "first cell is read as TABLE";
  auto matrix = std::make_unique<dist_mat_type>(static_cast<std::int32_t>(n));
  read_dist_rows(
      in, layout, matrix->labels, matrix->ntax(),
      [&](std::int32_t i, std::int32_t j, float v) {
        matrix->distances.set(i, j, v);
      },
      &columns);
  return matrix;
}

// ---------------------------------------------------------------------------
// Square tables as R, pandas and spreadsheets write them.

namespace {

// One field of a table line: its text, quotes taken off.
struct table_field {
  std::string text;
  bool quoted = false;
};

// The fields of one line of a table, and the line's number.
struct table_line {
  std::size_t fields;
  std::int64_t line;
};

bool blank_line(std::string_view line) {
  return std::all_of(line.begin(), line.end(),
                     [](char c) { return whitespace.contains(c); });
}

// The separator of a table, told from its first lines (`ahead`): of TAB,
// ";" and ",", the most frequent outside quotes on the first line that is
// not blank, or on the next one when that line has none (a table of one
// column); blanks when there is none, as R's write.table writes by default.
// Ties go to TAB, then ";" (whose tables write decimal commas). A lone CR
// ends a line here too, as old spreadsheets write them.
char table_separator(std::string_view ahead) {
  constexpr std::string_view candidates = "\t;,";
  for (int lines = 0; !ahead.empty() && lines < 2;) {
    const std::size_t end = std::min(ahead.find_first_of("\r\n"), ahead.size());
    const std::string_view line = ahead.substr(0, end);
    ahead.remove_prefix(std::min(end + 1, ahead.size()));
    if (blank_line(line)) continue;
    ++lines;
    std::size_t count[3] = {};
    bool inside = false;
    for (const char c : line) {
      if (c == '"') {
        inside = !inside;
      } else if (!inside) {
        const std::size_t k = candidates.find(c);
        if (k != std::string_view::npos) ++count[k];
      }
    }
    const std::size_t* best = std::max_element(count, count + 3);
    if (*best > 0) return candidates[static_cast<std::size_t>(best - count)];
  }
  return ' ';
}

// Reads the fields of the next line that is not blank into the first
// entries of `fields`, consuming the line and its line end; no fields at the
// end of the input. Quoted fields are read as RFC 4180 has them ("" is a
// quote, a separator inside is text); blanks around an unquoted field and a
// CR before the line end are not part of it; with blanks as the separator,
// a run of them separates two fields. A field may not go on past its line.
table_line read_table_line(text_input& in, char sep,
                           std::vector<table_field>& fields) {
  enum class at : std::uint8_t { before, plain, quoted, quote, after };
  auto blank = [sep](char c) { return c != sep && whitespace.contains(c); };
  for (;;) {
    const std::int64_t line = in.line();
    if (in.exhausted()) return {0, line};
    std::size_t n = 0;
    table_field* f = nullptr;
    auto open = [&] {
      if (n == static_cast<std::size_t>(max_taxa) + 1)
        throw range_error("more than 5000 columns of distances");
      if (n == fields.size()) fields.emplace_back();
      f = &fields[n++];
      f->text.clear();
      f->quoted = false;
    };
    auto add = [&](char c) {
      if (f->text.size() == max_line_len)
        throw format_error(
            "a field of more than 10000 characters",
            "field " + std::to_string(n) + " begins " + quoted(f->text));
      f->text += c;
    };
    auto finish = [&] {
      while (!f->quoted && !f->text.empty() && blank(f->text.back()))
        f->text.pop_back();
    };
    auto close = [&] {
      finish();
      if (sep != ' ') open();
    };
    if (sep != ' ') open();
    at state = at::before;
    bool black = false;
    for (std::string_view view; !(view = in.peek_line()).empty();
         in.consume(view.size())) {
      for (const char c : view) {
        black = black || !whitespace.contains(c);
        switch (state) {
          case at::before:
            if (c == sep || blank(c)) {
              if (c == sep && sep != ' ') open();
            } else {
              if (sep == ' ') open();
              if (c == '"') {
                f->quoted = true;
                state = at::quoted;
              } else {
                add(c);
                state = at::plain;
              }
            }
            break;
          case at::plain:
            if (c == sep) {
              close();
              state = at::before;
            } else {
              add(c);
            }
            break;
          case at::quoted:
            if (c == '"')
              state = at::quote;
            else
              add(c);
            break;
          case at::quote:
          case at::after:
            if (c == '"' && state == at::quote) {
              add(c);
              state = at::quoted;
            } else if (c == sep) {
              close();
              state = at::before;
            } else if (blank(c)) {
              state = at::after;
            } else {
              throw format_error("text after the closing quote of field " +
                                 std::to_string(n) + ": " + quoted(f->text));
            }
            break;
        }
      }
    }
    if (state == at::quoted)
      throw format_error(
          "a quoted field runs past the end of its line",
          "field " + std::to_string(n) + " begins " + quoted(f->text));
    if (state == at::plain) finish();
    if (!in.exhausted()) in.skip_line();
    if (black) return {n, line};
  }
}

// A distance of a table: a decimal number as R, pandas and spreadsheets
// write it (0.25, 1e-04, 2.5E+01), with a decimal comma where commas do not
// separate fields; nothing for the texts of a missing value: empty (pandas),
// NA and NaN (R).
std::optional<float> table_distance(std::string_view text, bool decimal_comma) {
  if (text.empty() || text == "NA" || text == "NaN") return std::nullopt;
  std::string s(text.substr(text[0] == '+' ? 1 : 0));
  bool number = !s.empty();
  for (char& c : s) {
    if (c == ',' && decimal_comma) c = '.';
    number = number && (std::string_view("0123456789.eE+-").find(c) !=
                        std::string_view::npos);
  }
  double v = 0.0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (!number || ec == std::errc::invalid_argument ||
      end != s.data() + s.size())
    throw format_error("not a number: " + quoted(text));
  if (ec == std::errc::result_out_of_range) {
    // Too small for a double is zero, as read_real has it; too large is
    // beyond every distance.
    const std::size_t e = s.find_first_of("eE");
    if (e == std::string::npos || s[e + 1] != '-')
      throw range_error("distance " + std::string(text) +
                        " outside 0.0 .. 3.40282347E+38");
    v = 0.0;
  }
  return to_distance(v);
}

}  // namespace

dist_mat_access read_dist_table(text_input& in) {
  in.skip_byte_order_mark();
  refuse_empty(in);
  const char sep = table_separator(in.peek(4096));
  std::vector<table_field> header, row;
  const std::size_t columns = read_table_line(in, sep, header).fields;
  table_line r = read_table_line(in, sep, row);
  if (r.fields == 0)
    throw end_of_file_error("the table ends after its header line");
  // R's write.csv, pandas and most spreadsheets put a cell before the
  // column labels (empty, or the name of the rows); R's write.table does
  // not. The first row, a label and a distance per column, tells which.
  if (r.fields != columns && r.fields != columns + 1) {
    format_error e("row 1 has " + std::to_string(r.fields) +
                       " fields, the header line " + std::to_string(columns),
                   "each row holds a label and one distance per column");
    e.set_line(r.line);
    throw e;
  }
  const std::size_t first = r.fields == columns ? 1 : 0;
  const auto n = static_cast<std::int32_t>(columns - first);
  if (n < 1)
    throw format_error(
        "no separator of fields on the first two lines",
        "a table's fields are separated by TABs, commas, semicolons or "
        "blanks");
  auto matrix = std::make_unique<dist_mat_type>(n);
  for (std::int32_t i = 1; i <= n; ++i) {
    if (i > 1) {
      r = read_table_line(in, sep, row);
      if (r.fields == 0)
        throw end_of_file_error("the table ends after row " +
                                std::to_string(i - 1) + " of " +
                                std::to_string(n));
    }
    try {
      if (r.fields != static_cast<std::size_t>(n) + 1)
        throw format_error(
            "row " + std::to_string(i) + " has " + std::to_string(r.fields) +
                " fields, not " + std::to_string(n + 1),
            "each row holds a label and one distance per column");
      const std::string& label = row[0].text;
      const std::string& column =
          header[first + static_cast<std::size_t>(i) - 1].text;
      if (label.empty())
        throw format_error("row " + std::to_string(i) + " has no label");
      if (label != column) {
        format_error e = label_mismatch(i, label, column, "");
        e.add_detail("row " + std::to_string(i) + " of " + std::to_string(n));
        throw e;
      }
      matrix->labels(i) = label;
      for (std::int32_t j = 1; j <= n; ++j) {
        const std::string& text = row[static_cast<std::size_t>(j)].text;
        try {
          std::optional<float> v = table_distance(text, sep != ',');
          // An associate's distance to itself is 0 whether written or not.
          if (!v && i == j) v = 0.0f;
          if (!v)
            throw format_error(
                "no distance from " + quoted(label) + " to " +
                quoted(header[first + static_cast<std::size_t>(j) - 1].text) +
                ": " + quoted(text));
          matrix->distances.set(i, j, *v);
        } catch (error& e) {
          e.add_detail("row " + std::to_string(i) + " of " + std::to_string(n) +
                       ", column " + std::to_string(j));
          throw;
        }
      }
    } catch (error& e) {
      e.set_line(r.line);
      throw;
    }
  }
  return matrix;
}

}  // namespace zurud::read
