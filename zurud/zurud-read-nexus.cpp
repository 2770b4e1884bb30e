#include "zurud/zurud-read.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "zurud/detail/read-scan.hpp"

namespace zurud::read {

namespace {

// Tokens the reader keeps (keywords, values, labels) are short; a longer one
// is a broken file, and the cap keeps an unclosed quote from filling memory.
constexpr std::size_t max_token = max_line_len;
constexpr std::size_t shown_chars = 40;
// Runs of cells shorter than this are copied to a padded buffer first.
constexpr std::size_t short_run = 256;

// NEXUS punctuation: each of these is a token of its own in commands.
constexpr char_set punctuation{"()[]{}/\\,;:=*'\"`+-<>"};
constexpr char_set word_end = whitespace | punctuation;
// Labels are read more leniently than command words: writers put hyphens,
// parentheses and the like in unquoted labels, and association files hold
// them as written.
constexpr char_set label_end = whitespace | char_set{"[;"};
// Characters that can never be a MISSING, GAP or MATCHCHAR symbol.
constexpr char_set not_symbol = whitespace | char_set{"[]{}();'\""};

// A text for messages: in double quotes, cut to 40 characters, control
// bytes as \xNN.
std::string shown(std::string_view s) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size() && i < shown_chars; ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 32 || c == 127) {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (s.size() > shown_chars) out += "...";
  return out + "\"";
}

std::string shown(char c) { return shown(std::string_view(&c, 1)); }

bool same_word(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper_case_map(a[i]) != upper_case_map(b[i])) return false;
  return true;
}

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
  std::string show() const { return end ? "the end of the input" : shown(text); }
};

// Characters that always interrupt a run of plain cells in a matrix line.
constexpr char_set cell_stops{"[]{}();'"};

// The characters that interrupt a run of plain cells: cell_stops, the
// symbols of FORMAT and, where lines matter, the carriage return (a lone one
// ends a line). Runs are long and these are rare, so lines are scanned 16
// bytes at a time for them and the cells in between go through the
// row-scan kernels.
class stop_set {
 public:
  void reset(bool cr, std::string_view symbols) {
    set_ = cell_stops;
    extra_.fill(';');
    count_ = 0;
    if (cr) add('\r');
    for (char c : symbols) add(c);
  }
  bool contains(char c) const { return set_.contains(c); }

  /// The offset of the first member in [p, p + n), or n.
  std::size_t find(const char* p, std::size_t n) const {
    std::size_t i = 0;
#if defined(__SSE2__)
    // "[{" and "]}" differ only in bit 5, "(" and ")" only in bit 0.
    const __m128i bit5 = _mm_set1_epi8(0x20), not_bit0 = _mm_set1_epi8(~1);
    const __m128i open = _mm_set1_epi8('{'), close = _mm_set1_epi8('}');
    const __m128i paren = _mm_set1_epi8('('), semi = _mm_set1_epi8(';');
    const __m128i quote = _mm_set1_epi8('\'');
    const __m128i x0 = _mm_set1_epi8(extra_[0]), x1 = _mm_set1_epi8(extra_[1]);
    const __m128i x2 = _mm_set1_epi8(extra_[2]), x3 = _mm_set1_epi8(extra_[3]);
    for (; i + 16 <= n; i += 16) {
      const __m128i v =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      const __m128i folded = _mm_or_si128(v, bit5);
      __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(folded, open),
                                 _mm_cmpeq_epi8(folded, close));
      hit = _mm_or_si128(hit,
                         _mm_cmpeq_epi8(_mm_and_si128(v, not_bit0), paren));
      hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(v, semi),
                                           _mm_cmpeq_epi8(v, quote)));
      hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(v, x0),
                                           _mm_cmpeq_epi8(v, x1)));
      hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(v, x2),
                                           _mm_cmpeq_epi8(v, x3)));
      const int mask = _mm_movemask_epi8(hit);
      if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask));
    }
#endif
    while (i < n && !set_.contains(p[i])) ++i;
    return i;
  }

 private:
  void add(char c) {
    set_.insert(static_cast<unsigned char>(c));
    extra_[count_++] = c;
  }
  char_set set_;
  // CR and the three symbols; unused places repeat ";".
  std::array<char, 4> extra_{};
  std::size_t count_ = 0;
};

// text_input::peek takes the view's start before filling the buffer, and a
// fill may move the buffered text; once a first call has filled it, a second
// one returns a view of where the text is now.
std::string_view peek(text_input& in, std::size_t n) {
  in.peek(n);
  return in.peek(n);
}

using read::detail::cell_case;

cell_case scan_case(const char_mapping& map) {
  if (map == site_map) return cell_case::SITE;
  if (map == lower_case_map) return cell_case::LOWER;
  return cell_case::AS_READ;
}

enum class row_end : std::uint8_t { FULL, LINE_END, SEMICOLON };

class nexus_reader {
 public:
  nexus_reader(text_input& in, const cell_options& cells)
      : in_(in), cells_(cells), how_(scan_case(cells.map)) {}
  char_mat_access read();

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
  std::int32_t interleaved_row(std::int32_t next, bool later);
  [[noreturn]] void unknown_label(const std::string& name, bool later);
  row_end fill(std::int32_t t, bool line_bound);
  void read_set(char open, std::int32_t t);
  row_end rest_of_line();
  std::string row_name(std::int32_t t) const;
  [[noreturn]] void unexpected(char c, std::int32_t t);

  text_input& in_;
  const cell_options& cells_;
  cell_case how_;

  std::int32_t taxa_ntax_ = 0;  // from a TAXA block
  std::int32_t ntax_ = 0;       // from the DATA or CHARACTERS block
  std::int32_t nchar_ = 0;
  std::vector<std::string> taxlabels_;
  bool interleave_ = false;
  // '\0': not declared. NEXUS has "?" for missing data by default.
  char missing_ = '?', gap_ = '\0', match_ = '\0';
  stop_set stops_;

  char_mat_access m_;
  std::unordered_map<std::string, std::int32_t> index_;  // label -> 0-based
  std::vector<std::int32_t> filled_;                     // cells per row
  std::vector<bool> seen_;                               // row has begun
  std::int32_t labelled_ = 0;  // rows with a label (TAXLABELS or MATRIX)
  std::int32_t rows_ = 0;      // rows met in the MATRIX so far
  std::int32_t first_ = -1;    // the row that match characters refer to
};

// ---------------------------------------------------------------------------
// Lexical layer.

bool nexus_reader::skip_blank() {
  const std::string_view line = in_.peek_line();
  if (!line.empty() && !whitespace.contains(line[0]) && line[0] != '[')
    return true;
  for (;;) {
    const std::string_view v = peek(in_, 4096);
    if (v.empty()) return false;
    std::size_t k = 0;
    while (k < v.size() && whitespace.contains(v[k])) ++k;
    in_.consume(k);
    if (k < v.size()) {
      if (v[k] != '[') return true;
      skip_comment();
    }
  }
}

// NEXUS comments nest: "[a [b] c]" is one comment.
void nexus_reader::skip_comment() {
  const std::int64_t opened = in_.line();
  int depth = 0;
  for (;;) {
    const std::string_view v = peek(in_, 4096);
    if (v.empty())
      throw end_of_file_error("input ended inside a comment opened on line " +
                              std::to_string(opened));
    for (std::size_t k = 0; k < v.size(); ++k) {
      if (v[k] == '[') {
        ++depth;
      } else if (v[k] == ']' && --depth == 0) {
        in_.consume(k + 1);
        return;
      }
    }
    in_.consume(v.size());
  }
}

// Quoted text after its opening quote; a doubled quote stands for one.
std::string nexus_reader::quoted_text(char quote, bool one_line) {
  const std::int64_t opened = in_.line();
  in_.consume(1);
  std::string s;
  for (;;) {
    const std::string_view v = peek(in_, 4096);
    if (v.empty())
      throw end_of_file_error("input ended inside quoted text opened on line " +
                              std::to_string(opened));
    const std::size_t k = v.find(quote);
    if (one_line) {
      const std::size_t nl = v.substr(0, k).find('\n');
      if (nl != std::string_view::npos) {
        s.append(v.substr(0, nl));
        throw format_error("line end inside the quoted label " + shown(s) +
                           " (a quote missing?)");
      }
    }
    s.append(v.substr(0, k));
    if (s.size() > max_token)
      throw format_error("quoted text longer than " +
                         std::to_string(max_token) + " characters: " +
                         shown(s));
    if (k == std::string_view::npos) {
      in_.consume(v.size());
      continue;
    }
    in_.consume(k + 1);
    const std::string_view after = peek(in_, 1);
    if (after.empty() || after[0] != quote) return s;
    s += quote;
    in_.consume(1);
  }
}

token nexus_reader::next(bool double_quotes) {
  token t;
  if (!skip_blank()) {
    t.end = true;
    return t;
  }
  const char c = peek(in_, 1)[0];
  if (c == '\'' || (c == '"' && double_quotes)) {
    t.text = quoted_text(c);
    t.quoted = true;
    return t;
  }
  if (punctuation.contains(c)) {
    t.text = c;
    in_.consume(1);
    return t;
  }
  for (;;) {
    const std::string_view v = peek(in_, 4096);
    std::size_t k = 0;
    while (k < v.size() && !word_end.contains(v[k])) ++k;
    t.text.append(v.substr(0, k));
    in_.consume(k);
    if (t.text.size() > max_token)
      throw format_error("word longer than " + std::to_string(max_token) +
                         " characters: " + shown(t.text));
    if (k < v.size() || v.empty()) return t;
  }
}

token nexus_reader::need(const std::string& what, bool double_quotes) {
  token t = next(double_quotes);
  if (t.end) throw end_of_file_error("input ended where " + what +
                                     " was expected");
  return t;
}

void nexus_reader::expect(char c, const std::string& after) {
  const token t = need(std::string("'") + c + "' after " + after);
  if (!t.is(c))
    throw format_error(std::string("expected '") + c + "' after " + after +
                       ", found " + t.show());
}

bool nexus_reader::next_is(char c) {
  if (!skip_blank()) return false;
  return peek(in_, 1)[0] == c;
}

// Passes over the rest of a command, up to and including its ";".
void nexus_reader::skip_command() {
  const std::int64_t started = in_.line();
  for (;;) {
    const std::string_view v = peek(in_, 4096);
    if (v.empty())
      throw end_of_file_error("input ended inside a command started on line " +
                              std::to_string(started) + " (';' missing)");
    std::size_t k = 0;
    while (k < v.size() && v[k] != ';' && v[k] != '[' && v[k] != '\'') ++k;
    in_.consume(k);
    if (k == v.size()) continue;
    if (v[k] == ';') {
      in_.consume(1);
      return;
    }
    if (v[k] == '[')
      skip_comment();
    else
      quoted_text('\'');
  }
}

std::int32_t nexus_reader::count_value(const char* name, std::int32_t max,
                                       const char* what) {
  expect('=', name);
  const token t = need(std::string("a number after ") + name + "=");
  bool digits = !t.quoted && !t.text.empty();
  for (char c : t.text) digits = digits && c >= '0' && c <= '9';
  if (!digits)
    throw format_error(std::string("expected a number after ") + name +
                       "=, found " + t.show());
  const std::string& s = t.text;
  const std::size_t lead = s.find_first_not_of('0');
  const std::string value = lead == std::string::npos ? "0" : s.substr(lead);
  const std::int64_t n = value.size() > 10 ? std::int64_t{1} << 40
                                           : std::stoll(value);
  if (n < 1 || n > max)
    throw range_error(std::string(what) + " " +
                      (value.size() > 10 ? value.substr(0, 20) : value) +
                      " outside 1.." + std::to_string(max));
  return static_cast<std::int32_t>(n);
}

char nexus_reader::symbol_value(const char* name) {
  expect('=', name);
  const token t = need(std::string("a character after ") + name + "=");
  if (t.text.size() != 1 || not_symbol.contains(t.text[0]))
    throw format_error(std::string("expected one character after ") + name +
                       "=, found " + t.show());
  return t.text[0];
}

// A taxon label: single-quoted (quotes removed, '' is one quote), or the
// text up to whitespace, a comment or ";".
std::string nexus_reader::label(const char* where) {
  if (peek(in_, 1)[0] == '\'') {
    std::string s = quoted_text('\'', true);
    if (s.empty()) throw format_error(std::string("empty label ") + where);
    return s;
  }
  std::string s;
  for (;;) {
    const std::string_view v = peek(in_, 4096);
    std::size_t k = 0;
    while (k < v.size() && !label_end.contains(v[k])) ++k;
    s.append(v.substr(0, k));
    in_.consume(k);
    if (s.size() > max_token)
      throw format_error("label longer than " + std::to_string(max_token) +
                         " characters: " + shown(s));
    if (k < v.size() || v.empty()) return s;
  }
}

// ---------------------------------------------------------------------------
// Blocks.

char_mat_access nexus_reader::read() {
  in_.skip_byte_order_mark();
  in_.skip_members(whitespace);
  const std::string_view head = peek(in_, 7);
  if (head.size() < 6 || !same_word(head.substr(0, 6), "#NEXUS") ||
      (head.size() == 7 && !whitespace.contains(head[6]) && head[6] != '['))
    throw format_error("expected #NEXUS at the start of a NEXUS file, found " +
                       shown(in_.peek_line()));
  in_.consume(6);
  for (;;) {
    const token begin = next();
    if (begin.end)
      throw end_of_file_error(
          "input ended before a DATA or CHARACTERS block");
    if (!begin.is("BEGIN"))
      throw format_error("expected BEGIN of a block, found " + begin.show());
    const token name = need("a block name after BEGIN");
    expect(';', "BEGIN " + name.text);
    if (name.is("TAXA"))
      read_taxa_block();
    else if (name.is("DATA") || name.is("CHARACTERS"))
      return read_characters_block(name.text);
    else
      skip_block(name.text);
  }
}

// Other blocks (trees, sets, assumptions, a program's commands) are passed
// over command by command, so that an END inside quotes or comments does
// not end them.
void nexus_reader::skip_block(const std::string& name) {
  for (;;) {
    const token t = need("END; of the " + name + " block");
    if (t.is("END") || t.is("ENDBLOCK")) {
      expect(';', t.text);
      return;
    }
    if (t.is("BEGIN"))
      throw format_error("BEGIN inside the " + name +
                         " block (its END; is missing)");
    if (!t.is(';')) skip_command();
  }
}

void nexus_reader::read_taxa_block() {
  taxlabels_.clear();
  for (;;) {
    const token t = need("END; of the TAXA block");
    if (t.is("END") || t.is("ENDBLOCK")) {
      expect(';', t.text);
      break;
    }
    if (t.is("BEGIN"))
      throw format_error("BEGIN inside the TAXA block (its END; is missing)");
    if (t.is("DIMENSIONS"))
      read_dimensions(true);
    else if (t.is("TAXLABELS"))
      read_taxlabels();
    else if (!t.is(';'))
      skip_command();
  }
  if (taxa_ntax_ == 0)
    taxa_ntax_ = static_cast<std::int32_t>(taxlabels_.size());
  if (!taxlabels_.empty() &&
      taxlabels_.size() != static_cast<std::size_t>(taxa_ntax_))
    throw format_error("TAXLABELS gives " + std::to_string(taxlabels_.size()) +
                       " labels for NTAX=" + std::to_string(taxa_ntax_));
}

void nexus_reader::read_dimensions(bool taxa_block) {
  for (;;) {
    const token t = need("';' after DIMENSIONS");
    if (t.is(';')) return;
    if (t.is("NTAX")) {
      const std::int32_t n = count_value("NTAX", max_taxa, "taxon count");
      (taxa_block ? taxa_ntax_ : ntax_) = n;
    } else if (t.is("NCHAR") && !taxa_block) {
      nchar_ = count_value("NCHAR", max_chars, "character count");
    } else if (!t.is("NEWTAXA") || taxa_block) {
      throw format_error("unknown DIMENSIONS subcommand " + t.show());
    }
  }
}

void nexus_reader::read_taxlabels() {
  taxlabels_.clear();
  for (;;) {
    if (!skip_blank())
      throw end_of_file_error("input ended inside TAXLABELS");
    if (peek(in_, 1)[0] == ';') {
      in_.consume(1);
      return;
    }
    if (taxlabels_.size() == static_cast<std::size_t>(max_taxa))
      throw range_error("TAXLABELS gives more than 5000 labels");
    taxlabels_.push_back(label("in TAXLABELS"));
  }
}

void nexus_reader::read_format() {
  for (;;) {
    const token t = need("';' after FORMAT", true);
    if (t.is(';')) return;
    if (t.is("DATATYPE")) {
      expect('=', "DATATYPE");
      const token v = need("a value after DATATYPE=");
      if (v.is("CONTINUOUS"))
        throw format_error(
            "DATATYPE=CONTINUOUS: only discrete characters are read");
      if (v.is("MIXED")) {
        // MIXED(DNA:1-100,STANDARD:101-120): all discrete.
        expect('(', "DATATYPE=MIXED");
        while (!need("')' after DATATYPE=MIXED(").is(')')) {
        }
      } else if (!v.is("STANDARD") && !v.is("DNA") && !v.is("RNA") &&
                 !v.is("NUCLEOTIDE") && !v.is("PROTEIN") &&
                 !v.is("RESTRICTION")) {
        throw format_error("unknown DATATYPE=" + v.show());
      }
    } else if (t.is("MISSING")) {
      missing_ = symbol_value("MISSING");
    } else if (t.is("GAP")) {
      gap_ = symbol_value("GAP");
    } else if (t.is("MATCHCHAR")) {
      match_ = symbol_value("MATCHCHAR");
    } else if (t.is("INTERLEAVE")) {
      interleave_ = true;
      if (next_is('=')) {
        in_.consume(1);
        const token v = need("YES or NO after INTERLEAVE=");
        if (!v.is("YES") && !v.is("NO"))
          throw format_error("expected YES or NO after INTERLEAVE=, found " +
                             v.show());
        interleave_ = v.is("YES");
      }
    } else if (t.is("SYMBOLS")) {
      expect('=', "SYMBOLS");
      need("a value after SYMBOLS=", true);
    } else if (t.is("ITEMS") || t.is("STATESFORMAT")) {
      const std::string name = t.text;
      expect('=', name);
      const token v = need("a value after " + name + "=");
      if (!v.is("STATES") && !v.is("STATESPRESENT"))
        throw format_error("FORMAT " + name + "=" + v.text +
                           " is not supported: cells must be states");
    } else if (t.is("TRANSPOSE") || t.is("NOLABELS") || t.is("TOKENS") ||
               t.is("EQUATE")) {
      throw format_error(
          "FORMAT " + t.text +
          " is not supported: the matrix must have one labelled row per "
          "taxon, one character per cell");
    } else if (!t.is("RESPECTCASE") && !t.is("LABELS") &&
               !t.is("NOTOKENS") && !t.is("NOTRANSPOSE")) {
      throw format_error("unknown FORMAT subcommand " + t.show());
    }
  }
}

char_mat_access nexus_reader::read_characters_block(const std::string& name) {
  for (;;) {
    const token t = need("MATRIX in the " + name + " block");
    if (t.is("MATRIX")) break;
    if (t.is("END") || t.is("ENDBLOCK"))
      throw format_error("the " + name + " block ends without a MATRIX");
    if (t.is("BEGIN"))
      throw format_error("BEGIN inside the " + name +
                         " block (its END; is missing)");
    if (t.is("DIMENSIONS"))
      read_dimensions(false);
    else if (t.is("FORMAT"))
      read_format();
    else if (t.is("TAXLABELS"))
      read_taxlabels();
    else if (t.is("ELIMINATE"))
      throw format_error("ELIMINATE is not supported: read every character");
    else if (!t.is(';'))
      skip_command();
  }
  read_matrix(name);
  for (;;) {
    const token t = need("END; of the " + name + " block");
    if (t.is("END") || t.is("ENDBLOCK")) {
      expect(';', t.text);
      break;
    }
    if (t.is("BEGIN") || t.is("MATRIX"))
      throw format_error("expected END; after the MATRIX, found " + t.show());
    if (!t.is(';')) skip_command();
  }
  // What follows is left for the caller; a blank rest of the line goes too.
  const std::string_view rest = in_.peek_line();
  std::size_t k = 0;
  while (k < rest.size() && whitespace.contains(rest[k])) ++k;
  if (k == rest.size() && !in_.exhausted()) in_.skip_line();
  return std::move(m_);
}

// ---------------------------------------------------------------------------
// The matrix.

void nexus_reader::read_matrix(const std::string& block) {
  if (nchar_ == 0)
    throw format_error("MATRIX without DIMENSIONS NCHAR= in the " + block +
                       " block");
  if (ntax_ != 0 && taxa_ntax_ != 0 && ntax_ != taxa_ntax_)
    throw format_error("DIMENSIONS NTAX=" + std::to_string(ntax_) +
                       " differs from the TAXA block's NTAX=" +
                       std::to_string(taxa_ntax_));
  if (ntax_ == 0) ntax_ = taxa_ntax_;
  if (ntax_ == 0)
    throw format_error("MATRIX without a taxon count: neither DIMENSIONS "
                       "NTAX= nor a TAXA block gives it");
  if (!taxlabels_.empty() &&
      taxlabels_.size() != static_cast<std::size_t>(ntax_))
    throw format_error("TAXLABELS gives " + std::to_string(taxlabels_.size()) +
                       " labels for NTAX=" + std::to_string(ntax_));
  if ((gap_ != '\0' && (gap_ == missing_ || gap_ == match_)) ||
      missing_ == match_)
    throw format_error("FORMAT gives one character two meanings among "
                       "MISSING, GAP and MATCHCHAR");
  std::string symbols;
  if (missing_ != '?') symbols += missing_;
  if (gap_ != '\0' && gap_ != '-') symbols += gap_;
  if (match_ != '\0') symbols += match_;
  stops_.reset(interleave_, symbols);

  m_ = std::make_unique<char_mat_type>(ntax_, nchar_, matrix_type::DISCR);
  filled_.assign(static_cast<std::size_t>(ntax_), 0);
  seen_.assign(static_cast<std::size_t>(ntax_), false);
  index_.reserve(static_cast<std::size_t>(ntax_));
  for (const std::string& name : taxlabels_)
    if (!index_.emplace(name, labelled_).second)
      throw format_error("label " + shown(name) + " given twice in TAXLABELS");
    else
      m_->labels(++labelled_) = name;
  if (interleave_)
    read_interleaved();
  else
    read_sequential();
}

std::string nexus_reader::row_name(std::int32_t t) const {
  return "row " + shown(m_->labels(t + 1)) + " (" + std::to_string(t + 1) +
         " of " + std::to_string(ntax_) + ")";
}

// Without TAXLABELS, rows take their labels in the order of the matrix;
// with them, each row goes where its label is listed.
std::int32_t nexus_reader::add_row(const std::string& name) {
  index_.emplace(name, labelled_);
  m_->labels(labelled_ + 1) = name;
  return labelled_++;
}

void nexus_reader::unknown_label(const std::string& name, bool later) {
  if (!taxlabels_.empty())
    throw format_error("label " + shown(name) +
                       " in the MATRIX is not one of TAXLABELS");
  if (later)
    throw format_error("unknown label " + shown(name) +
                       " in a later interleaved block");
  throw format_error("label " + shown(name) + " makes more rows than NTAX=" +
                     std::to_string(ntax_));
}

void nexus_reader::read_sequential() {
  for (; rows_ < ntax_; ++rows_) {
    if (!skip_blank())
      throw end_of_file_error("input ended after " + std::to_string(rows_) +
                              " of NTAX=" + std::to_string(ntax_) +
                              " rows of the matrix");
    if (peek(in_, 1)[0] == ';')
      throw format_error("the matrix ends after " + std::to_string(rows_) +
                         " of NTAX=" + std::to_string(ntax_) + " rows");
    const std::string name = label("in the MATRIX");
    const auto it = index_.find(name);
    std::int32_t t;
    if (it != index_.end())
      t = it->second;
    else if (taxlabels_.empty())
      t = add_row(name);
    else
      unknown_label(name, false);
    const auto ti = static_cast<std::size_t>(t);
    if (seen_[ti])
      throw format_error("label " + shown(name) + " repeats in the matrix");
    seen_[ti] = true;
    if (first_ < 0) first_ = t;
    if (fill(t, false) == row_end::SEMICOLON)
      throw format_error(row_name(t) + " ends at ';' after " +
                         std::to_string(filled_[ti]) + " of NCHAR=" +
                         std::to_string(nchar_) + " characters");
    // A row that ends inside a line with cells still on it is longer than
    // NCHAR: taking those cells for the next label would shift every row.
    if (rest_of_line() == row_end::FULL)
      throw format_error(row_name(t) + " has more than NCHAR=" +
                         std::to_string(nchar_) + " characters: " +
                         shown(in_.peek_line()) + " follows");
  }
  if (!skip_blank())
    throw end_of_file_error("input ended before the ';' of the matrix");
  if (peek(in_, 1)[0] != ';')
    throw format_error("expected ';' after the " + std::to_string(ntax_) +
                       " rows of the matrix (NTAX=" + std::to_string(ntax_) +
                       "), found " + shown(in_.peek_line()));
  in_.consume(1);
}

// Each line of an interleaved matrix is a label and the next cells of its
// row. Rows are found by label, so a block in another order still reads
// right; a label met again before every row has begun is a repeat (or a
// first block short of rows).
// The row of the label that starts an interleaved line. Blocks keep the
// order of the first one, so the row after the previous line's is tried
// first, its label compared straight in the buffer when it is plain.
std::int32_t nexus_reader::interleaved_row(std::int32_t next, bool later) {
  const std::string_view v = in_.peek_line();
  std::size_t k = 0;
  while (k < v.size() && !label_end.contains(v[k]) && v[k] != '\'') ++k;
  const bool known = seen_[static_cast<std::size_t>(next)];
  if (known && k > 0 && k < v.size() &&
      v.substr(0, k) == m_->labels(next + 1)) {
    in_.consume(k);
    return next;
  }
  const std::string name = label("in the MATRIX");
  if (known && name == m_->labels(next + 1)) return next;
  const auto it = index_.find(name);
  if (it != index_.end()) return it->second;
  if (taxlabels_.empty() && labelled_ < ntax_) return add_row(name);
  unknown_label(name, later);
}

void nexus_reader::read_interleaved() {
  std::vector<std::int32_t> lines(static_cast<std::size_t>(ntax_), 0);
  bool later = false;  // a row has had a second line
  std::int32_t t = ntax_ - 1;
  for (;;) {
    if (!skip_blank())
      throw end_of_file_error("input ended before the ';' of the matrix");
    if (peek(in_, 1)[0] == ';') {
      in_.consume(1);
      break;
    }
    t = interleaved_row(t + 1 == ntax_ ? 0 : t + 1, later);
    const auto ti = static_cast<std::size_t>(t);
    if (!seen_[ti]) {
      seen_[ti] = true;
      ++rows_;
    } else if (rows_ < ntax_) {
      throw format_error("label " + shown(m_->labels(t + 1)) +
                         " repeats after only " +
                         std::to_string(rows_) + " of NTAX=" +
                         std::to_string(ntax_) + " rows");
    } else {
      later = true;
    }
    if (first_ < 0) first_ = t;
    ++lines[ti];
    const row_end end = fill(t, true);
    if (end == row_end::SEMICOLON) break;
    if (end == row_end::FULL) {
      const row_end rest = rest_of_line();
      if (rest == row_end::SEMICOLON) break;
      if (rest == row_end::FULL)
        throw format_error(row_name(t) + " gets more than NCHAR=" +
                           std::to_string(nchar_) + " characters in block " +
                           std::to_string(lines[ti]) + ": " +
                           shown(in_.peek_line()) + " is left");
    }
  }
  if (rows_ < ntax_)
    throw format_error("the matrix ends after " + std::to_string(rows_) +
                       " of NTAX=" + std::to_string(ntax_) + " rows");
  for (std::int32_t r = 0; r < ntax_; ++r)
    if (filled_[static_cast<std::size_t>(r)] < nchar_)
      throw format_error(
          row_name(r) + " has " +
          std::to_string(filled_[static_cast<std::size_t>(r)]) + " of NCHAR=" +
          std::to_string(nchar_) + " characters at the end of the matrix");
}

// After the last cell of a row: FULL when more cells stand on its line,
// SEMICOLON at a ";" (left unread), LINE_END at the end of the line or the
// input. Blanks and comments are passed over.
row_end nexus_reader::rest_of_line() {
  for (;;) {
    const std::string_view v = peek(in_, 2);
    if (v.empty() || v[0] == '\n') return row_end::LINE_END;
    if (v[0] == '\r' && (v.size() == 1 || v[1] != '\n')) {
      in_.consume(1);  // a lone carriage return ends a line too
      return row_end::LINE_END;
    }
    if (v[0] == ';') return row_end::SEMICOLON;
    if (v[0] == '[') {
      skip_comment();
    } else if (whitespace.contains(v[0])) {
      in_.consume(1);
    } else {
      return row_end::FULL;
    }
  }
}

[[noreturn]] void nexus_reader::unexpected(char c, std::int32_t t) {
  if (c == '\'')
    throw format_error("quote among the characters of " + row_name(t));
  throw format_error("unexpected " + shown(c) + " among the characters of " +
                     row_name(t));
}

// A polymorphic {ACG} or uncertain (ACG) set is one cell, stored as missing.
void nexus_reader::read_set(char open, std::int32_t t) {
  const char close = open == '{' ? '}' : ')';
  in_.consume(1);
  for (;;) {
    const std::string_view v = peek(in_, 4096);
    if (v.empty())
      throw end_of_file_error(std::string("input ended inside a '") + open +
                              "' set of " + row_name(t));
    std::size_t k = 0;
    while (k < v.size() && !cell_stops.contains(v[k])) ++k;
    in_.consume(k);
    if (k == v.size()) continue;
    if (v[k] == close) {
      in_.consume(1);
      return;
    }
    if (v[k] != '[')
      throw format_error("unexpected " + shown(v[k]) + " inside a '" + open +
                         "' set of " + row_name(t));
    skip_comment();
  }
}

// Reads cells of row t until it holds nchar (FULL), its line ends
// (LINE_END, line end consumed; only when line_bound) or a ";" stands next
// (SEMICOLON, unread). Plain cells go through the row-scan kernels a run at
// a time; the characters of stop_set are dealt with one by one.
row_end nexus_reader::fill(std::int32_t t, bool line_bound) {
  const auto& kernels = read::detail::kernels();
  const bool store = cells_.store;
  const bool remap = store && how_ == cell_case::AS_READ &&
                     cells_.map != char_mapping();
  const auto ti = static_cast<std::size_t>(t);
  char* const row = store ? m_->discr_row(t + 1) : nullptr;
  const char* const ref = store && first_ >= 0 && first_ != t
                              ? m_->discr_row(first_ + 1)
                              : nullptr;
  const std::size_t nchar = static_cast<std::size_t>(nchar_);
  std::size_t f = static_cast<std::size_t>(filled_[ti]);
  const auto done = [&](row_end e) {
    filled_[ti] = static_cast<std::int32_t>(f);
    return e;
  };
  while (f < nchar) {
    const std::string_view v = in_.peek_line();
    if (v.empty()) {
      if (in_.exhausted()) {
        filled_[ti] = static_cast<std::int32_t>(f);
        throw end_of_file_error("input ended inside " + row_name(t) +
                                " after " + std::to_string(f) +
                                " of NCHAR=" + std::to_string(nchar_) +
                                " characters");
      }
      in_.skip_line();
      if (line_bound) return done(row_end::LINE_END);
      continue;
    }
    const std::size_t s = stops_.find(v.data(), v.size());
    read::detail::row_scan scan{v.data(), v.data() + s,
                                store ? row + f : nullptr, nchar - f};
    if (s < short_run && scan.n > s) {
      // The lines of interleaved files are short, and the kernels pass the
      // last 32 bytes of their text one at a time through a slow loop. Here
      // each byte is stored and the end moved on only past a cell, so the
      // loop does not branch; the row has room for every byte of the run.
      const char* p = scan.p;
      const char* const e = scan.e;
      if (store) {
        char* d = scan.dst;
        const char_mapping map = cells_.map;
        for (; p < e; ++p) {
          *d = map(*p);
          d += !whitespace.contains(*p);
        }
        f += static_cast<std::size_t>(d - scan.dst);
      } else {
        std::size_t got = 0;
        for (; p < e; ++p) got += !whitespace.contains(*p);
        f += got;
      }
      scan.p = p;
    } else {
      if (store)
        kernels.copy_black[static_cast<int>(how_)](scan);
      else
        kernels.skip_black(scan);
      const std::size_t got = nchar - f - scan.n;
      if (remap)
        for (std::size_t j = f; j < f + got; ++j) row[j] = cells_.map(row[j]);
      f += got;
    }
    std::size_t k = static_cast<std::size_t>(scan.p - v.data());
    // Runs of MISSING, GAP and MATCHCHAR symbols.
    while (f < nchar && k < v.size()) {
      const char c = v[k];
      if (whitespace.contains(c) && c != '\r') {
        ++k;
        continue;
      }
      if (c == match_) {
        if (first_ == t)
          throw format_error("MATCHCHAR " + shown(c) + " in the first row " +
                             shown(m_->labels(t + 1)));
        if (filled_[static_cast<std::size_t>(first_)] <=
            static_cast<std::int32_t>(f))
          throw format_error("MATCHCHAR " + shown(c) + " in " + row_name(t) +
                             " at a character the first row has not given");
        if (store) row[f] = ref[f];
      } else if (c == missing_ && c != '?') {
        if (store) row[f] = '?';
      } else if (c == gap_ && c != '-' && c != '\0') {
        if (store) row[f] = '-';
      } else {
        break;
      }
      ++f;
      ++k;
    }
    in_.consume(k);
    if (f == nchar || k == v.size() || !stops_.contains(v[k])) continue;
    const char c = v[k];
    if (c == '[') {
      skip_comment();
    } else if (c == '{' || c == '(') {
      read_set(c, t);
      if (store) row[f] = '?';
      ++f;
    } else if (c == ';') {
      return done(row_end::SEMICOLON);
    } else if (c == '\r') {
      in_.consume(1);
      const std::string_view after = peek(in_, 1);
      if (line_bound && (after.empty() || after[0] != '\n'))
        return done(row_end::LINE_END);
    } else {
      filled_[ti] = static_cast<std::int32_t>(f);
      unexpected(c, t);
    }
  }
  return done(row_end::FULL);
}

}  // namespace

char_mat_access read_nexus_matrix(text_input& in, const cell_options& cells) {
  return nexus_reader(in, cells).read();
}

}  // namespace zurud::read
