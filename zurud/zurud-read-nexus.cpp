#include <algorithm>
#include <string>
#include <string_view>

#include "zurud/detail/read-nexus.hpp"
#include "zurud/zurud-read.hpp"

namespace zurud::read {

namespace detail::nexus {

std::string plain(std::string_view s) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
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
  return out;
}

std::string shown(std::string_view s) { return "\"" + plain(s) + "\""; }

std::string shown(char c) { return shown(std::string_view(&c, 1)); }

bool same_word(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper_case_map(a[i]) != upper_case_map(b[i])) return false;
  return true;
}

std::string_view peek(text_input& in, std::size_t n) {
  return in.peek(n);
}

cell_case scan_case(const char_mapping& map) {
  if (map == site_map) return cell_case::SITE;
  if (map == lower_case_map) return cell_case::LOWER;
  return cell_case::AS_READ;
}

void nexus_reader::use_cells(const cell_options& cells) {
  cells_ = cells;
  how_ = scan_case(cells.map);
  remap_ =
      cells.store && how_ == cell_case::AS_READ && cells.map != char_mapping();
}

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
  // The line it opened on is found only for a failure: line() counts from
  // the start of the buffer, too slow for every comment.
  std::int64_t lines = 0;
  int depth = 0;
  for (;;) {
    const std::string_view v = peek(in_, 4096);
    if (v.empty())
      throw end_of_file_error("input ended inside a comment opened on line " +
                              std::to_string(in_.line() - lines));
    for (std::size_t k = 0; k < v.size(); ++k) {
      if (v[k] == '\n') {
        ++lines;
      } else if (v[k] == '[') {
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
  in_.consume(1);
  std::string s;
  for (;;) {
    const std::string_view v = peek(in_, 4096);
    if (v.empty())
      throw end_of_file_error(
          "input ended inside quoted text opened on line " +
          std::to_string(in_.line() - std::count(s.begin(), s.end(), '\n')));
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
                         std::to_string(max_token) +
                         " characters: " + shown(s));
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
  if (t.end)
    throw end_of_file_error("input ended where " + what + " was expected");
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
  for (;;) {
    const std::string_view v = peek(in_, 4096);
    if (v.empty())
      throw end_of_file_error(
          "input ended inside a command: its ';' is "
          "missing");
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
  const std::int64_t n =
      value.size() > 10 ? std::int64_t{1} << 40 : std::stoll(value);
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
      throw end_of_file_error("input ended before a DATA or CHARACTERS block");
    if (!begin.is("BEGIN"))
      throw format_error("expected BEGIN of a block, found " + begin.show());
    const token name = need("a block name after BEGIN");
    const std::string block = plain(name.text);
    expect(';', "BEGIN " + block);
    if (name.is("TAXA"))
      read_taxa_block();
    else if (name.is("DATA") || name.is("CHARACTERS"))
      return read_characters_block(block);
    else
      skip_block(block);
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
    if (!skip_blank()) throw end_of_file_error("input ended inside TAXLABELS");
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
      format_.datatype = v.text;
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
      format_.symbols = need("a value after SYMBOLS=", true).text;
    } else if (t.is("ITEMS") || t.is("STATESFORMAT")) {
      const std::string name = t.text;
      expect('=', name);
      const token v = need("a value after " + name + "=");
      if (!v.is("STATES") && !v.is("STATESPRESENT"))
        throw format_error("FORMAT " + name + "=" + plain(v.text) +
                           " is not supported: cells must be states");
    } else if (t.is("TRANSPOSE") || t.is("NOLABELS") || t.is("TOKENS") ||
               t.is("EQUATE")) {
      throw format_error(
          "FORMAT " + t.text +
          " is not supported: the matrix must have one labelled row per "
          "taxon, one character per cell");
    } else if (!t.is("RESPECTCASE") && !t.is("LABELS") && !t.is("NOTOKENS") &&
               !t.is("NOTRANSPOSE")) {
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
  if (cells_.map_by_datatype)
    if (const auto a = alphabet_type::of_datatype(format_.datatype)) {
      cell_options declared = cells_;
      declared.map = a->cell_map();
      use_cells(declared);
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
  return matrix();
}

}  // namespace detail::nexus

char_mat_access read_nexus_matrix(text_input& in, const cell_options& cells,
                                  nexus_format_type* format) {
  detail::nexus::nexus_reader reader(in, cells);
  char_mat_access matrix = reader.read();
  if (format != nullptr) *format = reader.format();
  return matrix;
}

}  // namespace zurud::read
