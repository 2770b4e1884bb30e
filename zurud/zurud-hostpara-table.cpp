// Association tables, first stage: the encoding, the lines and their fields,
// and the shape of the table, all from the file alone.
#include <algorithm>
#include <unordered_map>

#include "zurud/detail/assoc-table.hpp"

namespace zurud::hostpara {

using detail::field;
using detail::is_white;
using detail::shown;
using detail::table_data;
using detail::text_ref;
using detail::trim;
using detail::utf16;

assoc_table::assoc_table() : data_(std::make_unique<table_data>()) {}
assoc_table::~assoc_table() = default;
assoc_table::assoc_table(assoc_table&&) noexcept = default;
assoc_table& assoc_table::operator=(assoc_table&&) noexcept = default;

const std::string& assoc_table::name() const noexcept { return data_->name; }
assoc_shape assoc_table::shape() const noexcept { return data_->shape; }
char assoc_table::separator() const noexcept { return data_->separator; }
std::size_t assoc_table::size() const noexcept {
  return data_->shape == assoc_shape::INCIDENCE ? data_->ones
                                                : data_->pairs.size();
}
bool assoc_table::needs_labels() const noexcept {
  return data_->shape == assoc_shape::INCIDENCE;
}

namespace {

// ---------------------------------------------------------------------------
// The table, line by line.

// Whether `s` is a non-negative decimal number as R, pandas and
// spreadsheets write counts and abundances: digits, a fraction, an exponent
// (1e+05), and whether it is above 0.
bool abundance(std::string_view s, bool& positive) {
  std::size_t k = 0, digits = 0;
  positive = false;
  const auto digit_run = [&] {
    const std::size_t from = k;
    for (; k < s.size() && s[k] >= '0' && s[k] <= '9'; ++k)
      positive = positive || s[k] != '0';
    return k - from;
  };
  digits += digit_run();
  if (k < s.size() && s[k] == '.') {
    ++k;
    digits += digit_run();
  }
  if (digits == 0) return false;
  if (k < s.size() && (s[k] == 'e' || s[k] == 'E')) {
    ++k;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
    const bool mantissa = positive;
    if (digit_run() == 0) return false;
    positive = mantissa;  // the exponent's digits say nothing of zero
  }
  return k == s.size();
}

// Incidence cells: 1, 0, TRUE, FALSE, T, F (any case), empty, or a number
// of an abundance matrix. Returns 1 (a pair), 0, 2 (a pair of a number
// other than 1), or -1 for a text that is no cell.
int cell_value(std::string_view s) {
  if (s.empty() || s == "0") return 0;
  if (s == "1") return 1;
  if (bool positive = false; abundance(s, positive)) return positive ? 2 : 0;
  if (s.size() > 5) return -1;
  char up[5];
  for (std::size_t k = 0; k < s.size(); ++k)
    up[k] = s[k] >= 'a' && s[k] <= 'z' ? static_cast<char>(s[k] - 32) : s[k];
  const std::string_view u(up, s.size());
  if (u == "TRUE" || u == "T") return 1;
  if (u == "FALSE" || u == "F") return 0;
  return -1;
}

bool is_number(std::string_view s, std::int64_t expected) {
  std::int64_t v = 0;
  if (s.empty() || s.size() > 12) return false;
  for (const char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  return v == expected;
}

bool holds_white(std::string_view s) {
  return std::any_of(s.begin(), s.end(), is_white);
}

// A line that is not blank: its first four fields (of a TAB or word line
// the ones that are not empty; of a comma or semicolon line all), how many
// there are, and which rests of the line hold more than the pair.
struct row_rec {
  std::int64_t line = 0;
  std::uint32_t count = 0;
  std::array<text_ref, 4> words{};
  // Bit k: the rest of the line after word k's delimiter holds more than
  // whitespace (within its first 40 characters, as notices show it).
  std::uint8_t rest = 0;
};

class table_reader {
 public:
  explicit table_reader(table_data& t) : t_(t) {}

  // Lines are held back until the first 64 that are not blank tell the
  // separator.
  void take(std::string_view line, std::int64_t no) {
    if (decided_) return take_row(line, no);
    sample_.emplace_back(std::string(line), no);
    if (!trim(line).empty() && ++sampled_ == sample_lines) replay();
  }

  void finish() {
    if (!decided_) replay();
    if (rows_.empty()) return;
    if (incidence_ && make_incidence()) return;
    if (row_numbers()) return;
    if (t_.separator == ',' || t_.separator == ';')
      by_rows(0);
    else
      by_words();
    // The first line may name the columns; resolving tells.
    t_.header_candidate = !t_.pairs.empty() &&
                          t_.pairs[0].para.packed == rows_[0].words[0].packed;
  }

 private:
  static constexpr std::size_t sample_lines = 64;

  void replay() {
    decide();
    for (const auto& [line, no] : sample_) take_row(line, no);
    sample_.clear();
    sample_.shrink_to_fit();
  }

  void take_row(std::string_view line, std::int64_t no) {
    // A comma or semicolon table splits its lines at its separator; in any
    // other file a line that holds a TAB is split at TABs, and the rest are
    // words.
    const bool delimited = t_.separator == ',' || t_.separator == ';';
    char sep = 0;
    if (delimited && line.find(t_.separator) != std::string_view::npos)
      sep = t_.separator;
    else if (line.find('\t') != std::string_view::npos)
      sep = '\t';
    splitter_.split(line, sep, quotes_ || sep != 0, no, raw_);
    words_.clear();
    const bool keep_empty = sep != 0 && sep != '\t';
    for (const field& f : raw_)
      if (keep_empty || !f.text.empty()) words_.push_back(f);
    // An empty quoted field first on the first line is the corner of a
    // header over a column of row names.
    if (rows_.empty()) {
      corner_ = !raw_.empty() && raw_[0].text.empty();
      first_fields_ = raw_.size();
    }
    bool blank = true;
    for (const field& f : words_) blank = blank && f.text.empty();
    if (blank) return;

    quoted_seen_ =
        quoted_seen_ || std::any_of(raw_.begin(), raw_.end(),
                                    [](const field& f) { return f.quoted; });
    row_rec r;
    r.line = no;
    r.count = static_cast<std::uint32_t>(words_.size());
    for (std::size_t k = 0; k < 4 && k < words_.size(); ++k)
      r.words[k] = t_.keep(words_[k].text);
    for (std::size_t k = 0; k < 3 && k < words_.size(); ++k) {
      // A word after the associate is a pair's host, not more than it,
      // except on the line that gives the host of a pair spanning lines.
      if (k == 0 && !pending_) continue;
      if (note_rest(line, sep, k)) r.rest |= static_cast<std::uint8_t>(1u << k);
    }
    // Words pair as they always have: a line of one word waits for its
    // host on the next line.
    pending_ = pending_ ? false : words_.size() == 1;
    if (sep == '\t') note_tab_line(no);
    if (rows_.empty())
      first_row();
    else if (incidence_)
      incidence_row(no);
    rows_.push_back(r);
  }

  // The first line that is not blank tells the separator and the quoting:
  // a TAB makes a TAB-separated table; commas or semicolons (the more
  // frequent) a delimited one when the line splits at them into two fields
  // or more and every other line of the sample holds them too, so that a
  // table of words whose names hold a comma stays one.
  void decide() {
    decided_ = true;
    const auto first =
        std::find_if(sample_.begin(), sample_.end(),
                     [](const auto& l) { return !trim(l.first).empty(); });
    if (first == sample_.end()) return;
    const std::string_view line = first->first;
    t_.first_line = first->second;
    quotes_ = trim(line).starts_with('"');
    const std::size_t tabs = count_outside_quotes(line, '\t');
    const std::size_t commas = count_outside_quotes(line, ',');
    const std::size_t semis = count_outside_quotes(line, ';');
    char sep = 0;
    if (tabs > 0) {
      sep = '\t';
    } else if (commas + semis > 0) {
      sep = commas > semis                    ? ','
            : semis > commas                  ? ';'
            : line.find(',') < line.find(';') ? ','
                                              : ';';
      splitter_.split(line, sep, true, first->second, raw_);
      std::size_t named = 0;
      for (const field& f : raw_) named += !f.text.empty();
      bool all = named >= 2;
      for (auto l = first; all && l != sample_.end(); ++l)
        all = trim(l->first).empty() || count_outside_quotes(l->first, sep);
      if (all) {
        quotes_ = true;
        t_.notices.push_back(t_.where(0) +
                             "read as a table of fields separated by " +
                             (sep == ',' ? "commas" : "semicolons"));
      } else {
        sep = 0;
      }
    }
    t_.separator = sep;
    t_.shape = sep == 0 ? assoc_shape::WORDS : assoc_shape::DELIMITED;
  }

  static std::size_t count_outside_quotes(std::string_view line, char c) {
    std::size_t n = 0;
    bool in_quotes = false;
    for (const char x : line) {
      if (x == '"') in_quotes = !in_quotes;
      n += !in_quotes && x == c;
    }
    return n;
  }

  // Whether the rest of the line after word k holds more than the pair, as
  // notices tell: within its first 40 characters after the word's delimiter
  // for words; any field that is not empty for a delimited line. The first
  // texts are kept for the notice.
  bool note_rest(std::string_view line, char sep, std::size_t k) {
    const std::size_t at = words_[k].end + 1;
    if (at >= line.size()) return false;
    if (sep != 0 &&
        std::all_of(words_.begin() + static_cast<long>(k) + 1, words_.end(),
                    [](const field& f) { return f.text.empty(); }))
      return false;
    const std::string_view rest = line.substr(at, detail::shown_rest);
    const std::size_t a = rest.find_first_not_of(" \t\r\v\f");
    if (a == std::string_view::npos) return false;
    if (rest_texts_[k].size() < 3) {
      const std::size_t b = rest.find_last_not_of(" \t\r\v\f");
      rest_texts_[k].emplace_back(rows_.size(),
                                  std::string(rest.substr(a, b - a + 1)));
    }
    return true;
  }

  void note_tab_line(std::int64_t no) {
    for (std::size_t k = 0; k < 3 && k < words_.size(); ++k) {
      if (!holds_white(words_[k].text)) continue;
      if (tab_blanks_++ == 0) {
        tab_blank_line_ = no;
        tab_blank_name_ = shown(words_[k].text);
      }
      return;
    }
  }

  // ------------------------------------------------------------------
  // Incidence matrices: kept while every line after the first is a label
  // and cells.

  void first_row() {
    std::string shown_fields;
    for (std::size_t k = 0; k < words_.size() && k < 4; ++k)
      shown_fields += (k > 0 ? ", \"" : "\"") + shown(words_[k].text) + "\"";
    if (words_.size() > 4) shown_fields += ", ...";
    t_.header_text = shown_fields;
    const std::vector<field>& f = t_.separator == 0 ? words_ : raw_;
    for (const field& x : f) header_.push_back(t_.keep(x.text));
    incidence_ = header_.size() >= 2;
    header_cells_ = std::all_of(f.begin(), f.end(), [](const field& x) {
      return cell_value(x.text) >= 0;
    });
  }

  void incidence_row(std::int64_t no) {
    const std::vector<field>& f = raw_;
    std::size_t w = f.size();
    while (w > 0 && f[w - 1].text.empty()) --w;
    if (w == 0 || f[0].text.empty()) {
      incidence_ = false;
      return;
    }
    widest_ = std::max(widest_, f.size());
    detail::incidence_row row{t_.keep(f[0].text), no, t_.cells.size()};
    for (std::size_t k = 1; k < w; ++k) {
      const int v = cell_value(f[k].text);
      if (v < 0) {
        incidence_ = false;
        t_.cells.clear();
        t_.cells.shrink_to_fit();
        t_.rows.clear();
        t_.rows.shrink_to_fit();
        row_cells_.clear();
        row_cells_.shrink_to_fit();
        return;
      }
      // A number other than 0 and 1 (2, 0.5, 0.0) makes an abundance matrix.
      bool positive = false;
      numbers_ = numbers_ || (f[k].text != "0" && f[k].text != "1" &&
                              abundance(f[k].text, positive));
      t_.cells.push_back(code_of(f[k].text, v >= 1));
    }
    row_cells_.push_back(w - 1);
    t_.rows.push_back(row);
  }

  std::uint32_t code_of(std::string_view text, bool one) {
    // A 0/1 matrix has a handful of cell texts, an abundance matrix any
    // number of them.
    const auto [it, added] = codes_.try_emplace(
        std::string(text), static_cast<std::uint32_t>(t_.cell_texts.size()));
    if (added) {
      t_.cell_texts.emplace_back(text);
      t_.cell_ones.push_back(one);
    }
    return it->second;
  }

  bool make_incidence() {
    if (t_.rows.empty() || header_cells_) return false;
    // Without a corner, the first line is one field shorter than the rest.
    std::size_t from = 0;
    if (t_.text(header_[0]).empty() || widest_ <= header_.size()) from = 1;
    if (widest_ > header_.size() + 1) return false;
    std::vector<text_ref> columns(header_.begin() + static_cast<long>(from),
                                  header_.end());
    while (!columns.empty() && t_.text(columns.back()).empty())
      columns.pop_back();
    if (columns.size() < 2) return false;
    for (const text_ref c : columns)
      if (c.size() == 0) return false;
    // Numbers other than 0 and 1 make an abundance matrix only with a cell
    // in every column of every row, as R and pandas write a table of counts:
    // two columns "name, number" are pairs whose host is a number.
    for (const std::size_t n : row_cells_)
      if (n > columns.size() || (numbers_ && n < columns.size())) return false;
    // Every row gets as many cells as there are columns.
    std::vector<std::uint32_t> cells;
    cells.reserve(t_.rows.size() * columns.size());
    const std::uint32_t zero = code_of("", false);
    for (std::size_t r = 0; r < t_.rows.size(); ++r) {
      const std::size_t first = t_.rows[r].first_cell;
      t_.rows[r].first_cell = cells.size();
      for (std::size_t k = 0; k < columns.size(); ++k)
        cells.push_back(k < row_cells_[r] ? t_.cells[first + k] : zero);
    }
    t_.cells = std::move(cells);
    for (const std::uint32_t c : t_.cells) t_.ones += t_.cell_ones[c];
    t_.abundances = numbers_;
    t_.columns = std::move(columns);
    t_.shape = assoc_shape::INCIDENCE;
    return true;
  }

  // ------------------------------------------------------------------
  // Pairs.

  // A first column of row numbers, as R's write.table and write.csv and
  // pandas' to_csv write unless told otherwise: the header has no field
  // for it (or an empty one), and it counts from 1 (R) or 0 (pandas).
  bool row_numbers() {
    if (rows_.size() < 2) return false;
    const row_rec& head = rows_[0];
    const bool corner = corner_;
    const std::size_t width = corner ? first_fields_ : head.count + 1;
    if (width < 3) return false;
    const std::int64_t base = t_.text(rows_[1].words[0]) == "0" ? 0 : 1;
    for (std::size_t r = 1; r < rows_.size(); ++r)
      if (rows_[r].count != width ||
          !is_number(t_.text(rows_[r].words[0]),
                     base + static_cast<std::int64_t>(r) - 1))
        return false;
    t_.notices.push_back(
        t_.where(head.line) + "read as a header (" + t_.header_text +
        "), and the first column of the other lines as row numbers (" +
        std::to_string(base) + " to " +
        std::to_string(base + static_cast<std::int64_t>(rows_.size()) - 2) +
        "), which are passed over");
    by_rows(1);
    return true;
  }

  // One pair a line: fields from `first` on are associate, host, value.
  void by_rows(std::size_t first) {
    std::int64_t skipped = 0, skipped_line = 0;
    for (std::size_t r = first; r < rows_.size(); ++r) {
      const row_rec& row = rows_[r];
      if (row.count < first + 2 || row.words[first].size() == 0 ||
          row.words[first + 1].size() == 0) {
        if (skipped++ == 0) skipped_line = row.line;
        continue;
      }
      const unsigned host = static_cast<unsigned>(first + 1);
      add_pair(r, row.words[first], row.words[host],
               row.count > host + 1 ? row.words[host + 1] : text_ref{},
               row.line, host);
    }
    if (skipped > 0)
      t_.notices.push_back(t_.where(skipped_line) +
                           (skipped == 1 ? std::string("a line")
                                         : std::to_string(skipped) + " lines") +
                           " without both an associate and a host " +
                           (skipped == 1 ? "was" : "were") + " passed over");
    tab_notice();
  }

  // Pairs of words, a pair spanning lines when its associate stands alone.
  void by_words() {
    std::size_t pending = 0;
    bool waiting = false;
    for (std::size_t r = 0; r < rows_.size(); ++r) {
      const row_rec& row = rows_[r];
      if (waiting) {
        add_pair(r, rows_[pending].words[0], row.words[0],
                 row.count > 1 ? row.words[1] : text_ref{}, row.line, 0);
        waiting = false;
      } else if (row.count >= 2) {
        add_pair(r, row.words[0], row.words[1],
                 row.count > 2 ? row.words[2] : text_ref{}, row.line, 1);
      } else {
        pending = r;
        waiting = true;
      }
    }
    if (waiting) {
      t_.dangling = true;
      t_.dangling_para = rows_[pending].words[0];
      t_.dangling_line = rows_[pending].line;
    }
    tab_notice();
    if (quotes_ && quoted_seen_ && t_.separator == 0)
      t_.notices.push_back(t_.where(0) +
                           "names in double quotes were read without them");
  }

  void add_pair(std::size_t row, text_ref para, text_ref host, text_ref value,
                std::int64_t line, unsigned host_word) {
    const bool extra = (rows_[row].rest >> host_word) & 1u;
    if (extra && t_.extra_kept < 2) {
      for (const auto& [r, text] : rest_texts_[host_word])
        if (r == row) {
          t_.extra_text[t_.extra_kept] = text;
          t_.extra_pair[t_.extra_kept++] = t_.pairs.size();
          break;
        }
    }
    t_.pairs.push_back({para, host, value, line, extra});
  }

  void tab_notice() {
    if (tab_blanks_ == 0) return;
    t_.notices.push_back(
        t_.where(tab_blank_line_) +
        "a line holding a TAB is split at TABs only, so \"" + tab_blank_name_ +
        "\" is one name" +
        (tab_blanks_ > 1 ? " (as on " + std::to_string(tab_blanks_ - 1) +
                               " more line" + (tab_blanks_ > 2 ? "s" : "") + ")"
                         : ""));
  }

  table_data& t_;
  bool decided_ = false;
  bool corner_ = false;
  std::size_t first_fields_ = 0;
  std::vector<std::pair<std::string, std::int64_t>> sample_;
  std::size_t sampled_ = 0;
  bool quotes_ = false;
  bool quoted_seen_ = false;
  bool pending_ = false;  // the last line held a lone associate
  detail::splitter splitter_;
  std::vector<field> raw_, words_;
  std::vector<row_rec> rows_;
  std::array<std::vector<std::pair<std::size_t, std::string>>, 3> rest_texts_;
  std::int64_t tab_blanks_ = 0, tab_blank_line_ = 0;
  std::string tab_blank_name_;
  // Incidence.
  bool incidence_ = false;
  bool header_cells_ = false;
  std::vector<text_ref> header_;
  std::vector<std::size_t> row_cells_;
  std::unordered_map<std::string, std::uint32_t> codes_;  // cell text's code
  bool numbers_ = false;  // cells other than 0/1 and TRUE/FALSE
  std::size_t widest_ = 0;
};

}  // namespace

assoc_table read_assoc_table(read::text_input& in) {
  assoc_table table;
  table_data& t = table.data();
  t.name = in.name();
  const std::int64_t before = in.line() - 1;
  bool mark = false;
  const utf16 encoding = detail::sniff_encoding(in, mark);
  table_reader reader(t);
  using detail::line_source;
  std::string_view line;
  if (encoding == utf16::NONE) {
    line_source lines(in, before);
    while (lines.next(line)) reader.take(line, lines.line());
  } else {
    read::text_input decoded(
        detail::decode_utf16(in, encoding == utf16::BIG, before + 1), t.name);
    line_source lines(decoded, before);
    while (lines.next(line)) reader.take(line, lines.line());
    t.notices.insert(t.notices.begin(),
                     t.where(0) + "read as UTF-16 (" +
                         (encoding == utf16::BIG ? "big" : "little") +
                         "-endian" +
                         (mark ? "" : ", without a byte order mark") +
                         ") and compared as UTF-8");
  }
  reader.finish();
  return table;
}

}  // namespace zurud::hostpara
