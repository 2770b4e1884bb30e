#include "zurud/zurud-print.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "zurud/zurud-read.hpp"

namespace zurud::print {
namespace {

// A finite real text is sign or blank, d.ddddd, "E", exponent sign and two
// digits: floats widened to double have exponents within -45..+38, so the
// text is always exactly 12 characters.
constexpr std::size_t real_text_size = 12;
// Longest integer text: "-9223372036854775808".
constexpr std::size_t integer_text_size = 20;

// Writes the real text of `value` at p (room for real_text_size characters)
// and returns its length.
std::size_t write_real(float value, char* p) {
  if (std::isnan(value)) {
    std::memcpy(p, " NAN", 4);
    return 4;
  }
  if (std::isinf(value)) {
    std::memcpy(p, value < 0 ? "-INF" : " INF", 4);
    return 4;
  }
  // Comparing with zero folds -0.0 into 0.0: they are the same number.
  const double d = value == 0.0f ? 0.0 : static_cast<double>(value);
  p[0] = ' ';
  // to_chars rounds the exact binary value to nearest, ties to even, as the
  // C library's "%.5E" does; it writes the minus itself over the blank.
  const auto r = std::to_chars(d < 0 ? p : p + 1, p + real_text_size, d,
                               std::chars_format::scientific, 5);
  p[8] = 'E';
  return static_cast<std::size_t>(r.ptr - p);
}

// Writes the integer text of `value` at p (room for integer_text_size
// characters) and returns its length.
std::size_t write_integer(std::int64_t value, char* p) {
  char* first = p;
  if (value >= 0) *first++ = ' ';
  return static_cast<std::size_t>(
      std::to_chars(first, p + integer_text_size, value).ptr - p);
}

void put_count_cell(text_output& out, std::int32_t value) {
  char* p = out.reserve(1 + integer_text_size);
  p[0] = '\t';
  out.commit(1 + write_integer(value, p + 1));
}

std::string mapped(std::string_view text, const char_mapping& map) {
  std::string result(text);
  for (char& c : result) c = map(c);
  return result;
}

std::string_view trimmed(std::string_view text, const char_set& set) {
  while (!text.empty() && set.contains(text.front())) text.remove_prefix(1);
  while (!text.empty() && set.contains(text.back())) text.remove_suffix(1);
  return text;
}

// Characters cut from both ends of comments in the commented PHYLIP layout.
constexpr char_set comment_trim{"\t []"};
// A single quote would end a quoted NEXUS label early.
constexpr char_mapping quote_map{"'", "`"};

// The text cut or padded with blanks to exactly `width` characters.
void put_field(text_output& out, std::string_view text, std::size_t width) {
  out.put(text.substr(0, width));
  if (text.size() < width) out.put_fill(' ', width - text.size());
}

void put_enclosed(text_output& out, std::string_view label, std::size_t width) {
  put_field(out, "'" + mapped(label, quote_map) + "'", width);
}

// "ntax TAB nchar" of the PHYLIP family, without the line end.
void put_dimensions(text_output& out, std::int64_t ntax, std::int64_t nchar) {
  put_integer(out, ntax);
  out.put('\t');
  put_integer(out, nchar);
}

// The NEXUS data block up to and including "\tmatrix".
void put_data_head(text_output& out, std::int64_t ntax, std::int64_t nchar,
                   std::string_view datatype,
                   const std::vector<std::string>& per_site = {}) {
  out.put("begin data;\n\tdimensions ntax=");
  put_integer(out, ntax);
  out.put(" nchar=");
  put_integer(out, nchar);
  out.put(";\n\tformat datatype=");
  out.put(datatype);
  out.put_line(" missing=?;");
  if (!per_site.empty()) {
    // Column c is site c / per_site.size() + 1 and its name: 1_a 1_c ...;
    // a name holding a NEXUS punctuation mark ("1_-") is quoted.
    out.put("\tcharlabels");
    std::string label;
    for (std::int64_t c = 0; c < nchar; ++c) {
      const auto site = static_cast<std::size_t>(c) / per_site.size();
      label = std::to_string(site + 1);
      label += '_';
      label += per_site[static_cast<std::size_t>(c) % per_site.size()];
      out.put(' ');
      if (std::any_of(label.begin(), label.end(), [](char ch) {
            return non_nexus_label_set.contains(ch);
          })) {
        out.put('\'');
        for (const char ch : label) {
          if (ch == '\'') out.put('\'');
          out.put(ch);
        }
        out.put('\'');
      } else {
        out.put(label);
      }
    }
    out.put_line(";");
  }
  out.put_line("\tmatrix");
}

void put_ruler_start(text_output& out, std::int32_t width) {
  out.put('[');
  if (width > 1) out.put_fill(' ', static_cast<std::size_t>(width - 1));
  out.put('\t');
}

}  // namespace

namespace detail {

// TAB and the real text of a cell, remembered by the float's bit pattern in
// a direct-mapped table. Entropies and frequencies are counts over small
// groups and take few distinct values, so nearly every cell of a large
// matrix becomes one 16-byte copy instead of a conversion.
class real_texts {
 public:
  real_texts()
      : slots_(std::make_unique<slot[]>(slot_count)),
        pairs_(std::make_unique<pair_slot[]>(pair_count)) {
    // Every slot starts valid: the NaN pattern 0xFFFFFFFF with its own text.
    for (std::size_t k = 0; k < slot_count; ++k) {
      slots_[k].key = 0xFFFFFFFFu;
      slots_[k].len = 5;
      std::memcpy(slots_[k].text, "\t NAN", 5);
    }
    for (std::size_t k = 0; k < pair_count; ++k) {
      pairs_[k].key = ~std::uint64_t{0};
      pairs_[k].len = 10;
      std::memcpy(pairs_[k].text, "\t NAN\t NAN", 10);
    }
  }

  void put(text_output& out, float value) {
    const slot& s = text_of(value);
    std::memcpy(out.reserve(sizeof s.text), s.text, sizeof s.text);
    out.commit(s.len);
  }

  /// put() for each of n values. Room for a run of cells is reserved at
  /// once and filled through a local pointer, which the compiler can keep in
  /// a register (stores through the buffer's own pointer could change it).
  /// Cells go two at a time through a second table keyed by both bit
  /// patterns: neighbouring cells repeat together (the frequencies of an
  /// invariant site, entropies of zero along conserved stretches), so a pair
  /// is one lookup and one 32-byte copy.
  void put_all(text_output& out, const float* values, std::size_t n) {
    constexpr std::size_t run = 1024;
    while (n > 0) {
      const std::size_t m = std::min(n, run);
      // 16 bytes a cell: a pair's copy of 32 never passes it.
      char* const start = out.reserve(m * sizeof(slot::text));
      char* p = start;
      std::size_t i = 0;
      for (; i + 2 <= m; i += 2) {
        std::uint64_t bits;
        std::memcpy(&bits, values + i, sizeof bits);
        pair_slot& s =
            pairs_[(bits * 0x9E3779B97F4A7C15u) >> (64 - pair_bits)];
        if (s.key != bits) fill_pair(s, bits, values + i);
        std::memcpy(p, s.text, sizeof s.text);
        p += s.len;
      }
      if (i < m) {
        const slot& s = text_of(values[i]);
        std::memcpy(p, s.text, sizeof s.text);
        p += s.len;
      }
      out.commit(static_cast<std::size_t>(p - start));
      values += m;
      n -= m;
    }
  }

 private:
  struct slot;
  struct pair_slot;

  // The slot of one value, converted on a miss.
  const slot& text_of(float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    slot& s = slots_[(bits * 0x9E3779B1u) >> (32 - slot_bits)];
    if (s.key != bits) {
      s.key = bits;
      s.text[0] = '\t';
      s.len = static_cast<std::uint32_t>(1 + write_real(value, s.text + 1));
    }
    return s;
  }

  void fill_pair(pair_slot& s, std::uint64_t bits, const float* two) {
    const slot& a = text_of(two[0]);
    std::memcpy(s.text, a.text, sizeof a.text);
    const slot& b = text_of(two[1]);
    std::memcpy(s.text + a.len, b.text, sizeof b.text);
    s.len = a.len + b.len;
    s.key = bits;
  }

  static constexpr unsigned slot_bits = 11;
  static constexpr std::size_t slot_count = std::size_t{1} << slot_bits;
  static constexpr unsigned pair_bits = 11;
  static constexpr std::size_t pair_count = std::size_t{1} << pair_bits;
  struct slot {
    std::uint32_t key;
    std::uint32_t len;
    char text[16];
  };
  struct pair_slot {
    std::uint64_t key;
    std::uint32_t len;
    char text[32];
  };
  static_assert(1 + real_text_size <= sizeof(slot::text));
  static_assert(2 * sizeof(slot::text) <= sizeof(pair_slot::text));
  std::unique_ptr<slot[]> slots_;
  std::unique_ptr<pair_slot[]> pairs_;
};

}  // namespace detail

void put_integer(text_output& out, std::int64_t value) {
  out.commit(write_integer(value, out.reserve(integer_text_size)));
}

void put_real(text_output& out, float value) {
  out.commit(write_real(value, out.reserve(real_text_size)));
}

std::string real_image(float value) {
  char text[real_text_size];
  return std::string(text, write_real(value, text));
}

std::string to_nexus_label(std::string_view label) {
  return mapped(trimmed(label, non_nexus_label_set), nexus_label_map);
}

void print_label(std::string_view label, char_format_type layout,
                 std::size_t width, text_output& out) {
  switch (layout) {
    case char_format_type::PHYLIP:
      put_field(out, label, 10);
      break;
    case char_format_type::EXTENDED_PHYLIP:
    case char_format_type::COMMENTED_PHYLIP:
      put_field(out, mapped(label, no_space), width);
      break;
    case char_format_type::NEXUS:
      put_field(out, to_nexus_label(label), width);
      break;
    case char_format_type::NEXUS_ENCLOSED:
      put_enclosed(out, label, width);
      break;
  }
}

void print_label(std::string_view label, dist_format_type layout,
                 std::size_t width, text_output& out) {
  // The padded layouts write labels exactly as in character matrices, quotes
  // included: an unchanged single quote would close a quoted label early.
  switch (layout) {
    case dist_format_type::PHYLIP:
      return print_label(label, char_format_type::PHYLIP, width, out);
    case dist_format_type::EXTENDED_PHYLIP:
      return print_label(label, char_format_type::EXTENDED_PHYLIP, width, out);
    case dist_format_type::NEXUS:
      return print_label(label, char_format_type::NEXUS, width, out);
    case dist_format_type::NEXUS_ENCLOSED:
      return print_label(label, char_format_type::NEXUS_ENCLOSED, width, out);
    case dist_format_type::TAB:
    case dist_format_type::ONE_COLUMN:
    case dist_format_type::RAW:
      out.put(label);
      return;
  }
}

std::int32_t max_label_length(const tax_lab_type& labels) {
  std::size_t longest = 1;
  for (const std::string& label : labels) {
    if (label.empty()) throw range_error("empty label");
    if (label.size() > longest) longest = label.size();
  }
  return static_cast<std::int32_t>(longest);
}

std::int32_t max_label_length(const sequence_vecs& sequences) {
  std::size_t longest = 1;
  for (const sequence_type& s : sequences) {
    if (s.label.empty()) throw range_error("empty sequence label");
    if (s.label.size() > longest) longest = s.label.size();
  }
  return static_cast<std::int32_t>(longest);
}

void print_char_nums(std::int32_t nchar, std::int32_t width, text_output& out) {
  // The numbers run up to the first multiple of ten above nchar.
  const std::int64_t count = (nchar < 0 ? 0 : nchar) / 10 + 1;
  put_ruler_start(out, width);
  for (std::int64_t k = 1; k <= count; ++k) {
    char digits[integer_text_size];
    const auto r = std::to_chars(digits, digits + sizeof digits, 10 * k);
    const auto n = static_cast<std::size_t>(r.ptr - digits);
    char* p = out.reserve(10);
    std::memset(p, ' ', 10 - n);
    std::memcpy(p + 10 - n, digits, n);
    out.commit(10);
  }
  out.put_line("]");
  put_ruler_start(out, width);
  for (std::int64_t k = 1; k <= count; ++k) out.put("         .");
  out.put_line("]");
}

namespace {

// The command block after a NEXUS matrix: program settings and defaults.
// Distance matrices leave out the lines that only apply to characters.
struct command_line {
  const char* text;
  bool characters_only;
};
constexpr command_line command_block[] = {
    {"\t;", false},
    {"end;", false},
    {"", false},
    {"begin paup;", false},
    {"\tset torder=left tcompress taxlabels=full outroot=monophyl", false},
    {"\t\tautoclose maxtrees=1000 increase=auto autoinc=1000", false},
    {"\t\tstoretreewts storebrlens rootmethod=outgroup", false},
    {"\t\twarnroot=no;", false},
    {"\tpset opt=deltran collapse=minbrlen;", true},
    {"\tdset dcollapse distance=hky85 missdist=ignore rates=equal", true},
    {"\t\tpinvar=0;", true},
    {"\tdefaults nj bionj breakties=random;", false},
    {"\tdefaults upgma bionj breakties=random;", false},
    {"\tdefaults bootstrap grpfreq=no;", true},
    {"\tdefaults contree grpfreq=no;", false},
    {"\tdefaults hsearch addseq=random;", false},
    {"\tdefaults savedist triangle=both;", false},
    {"end;", false},
    {"", false},
};

void put_command_block(text_output& out, bool characters) {
  for (const command_line& line : command_block)
    if (characters || !line.characters_only) out.put_line(line.text);
}

using comment_style = layout_rules::comment_style;

// Indexed by char_format_type: PHYLIP, EXTENDED_PHYLIP, NEXUS,
// NEXUS_ENCLOSED, COMMENTED_PHYLIP.
constexpr layout_rules layouts[] = {
    {false, 10, 0, comment_style::NONE},
    {false, 0, 0, comment_style::NONE},
    {true, 0, 0, comment_style::BRACED},
    {true, 0, 2, comment_style::BRACED},
    {false, 0, 0, comment_style::TRIMMED},
};

template <class Labels>
std::size_t measured_width(const Labels& labels, char_format_type layout) {
  const layout_rules& rules = rules_of(layout);
  if (rules.fixed_width != 0) return rules.fixed_width;
  return static_cast<std::size_t>(max_label_length(labels)) + rules.quote_width;
}

}  // namespace

const layout_rules& rules_of(char_format_type layout) {
  return layouts[static_cast<std::size_t>(layout)];
}

std::size_t label_width(const tax_lab_type& labels, char_format_type layout) {
  return measured_width(labels, layout);
}

std::size_t label_width(const sequence_vecs& sequences,
                        char_format_type layout) {
  return measured_width(sequences, layout);
}

void print_footer(char_format_type layout, text_output& out) {
  if (rules_of(layout).nexus) put_command_block(out, true);
}

char_mat_writer::char_mat_writer(char_format_type layout, matrix_type type,
                                 std::size_t label_width, bool comments,
                                 const alphabet_type& alphabet)
    : layout_(layout),
      rules_(rules_of(layout)),
      type_(type),
      width_(label_width),
      alphabet_(alphabet) {
  if (!comments) rules_.comments = comment_style::NONE;
  if (type == matrix_type::QUANT)
    reals_ = std::make_unique<detail::real_texts>();
}

char_mat_writer::char_mat_writer(const char_mat_writer& o)
    : layout_(o.layout_),
      rules_(o.rules_),
      type_(o.type_),
      width_(o.width_),
      alphabet_(o.alphabet_),
      column_names_(o.column_names_) {
  if (type_ == matrix_type::QUANT)
    reals_ = std::make_unique<detail::real_texts>();
}

char_mat_writer::~char_mat_writer() = default;

void char_mat_writer::put_header(text_output& out, std::int32_t ntax,
                                 std::int32_t nchar,
                                 std::string_view comment) const {
  if (rules_.nexus) {
    out.put("#NEXUS\n\n");
    if (rules_.comments == comment_style::BRACED && !comment.empty()) {
      out.put('[');
      out.put(mapped(comment, good_comment));
      out.put("]\n\n");
    }
    if (type_ == matrix_type::DISCR) {
      // Standard characters say their symbols; the other datatypes imply
      // them.
      std::string format(alphabet_.datatype());
      if (!alphabet_.symbols().empty())
        format += " symbols=\"" + alphabet_.symbols() + "\"";
      put_data_head(out, ntax, nchar, format + " gap=" + alphabet_type::gap);
    } else
      put_data_head(out, ntax, nchar, "numerical", column_names_);
    if (type_ == matrix_type::DISCR)
      print_char_nums(nchar, static_cast<std::int32_t>(width_), out);
    return;
  }
  put_dimensions(out, ntax, nchar);
  if (rules_.comments == comment_style::TRIMMED) {
    const std::string_view text = trimmed(comment, comment_trim);
    if (!text.empty()) {
      out.put("\t[");
      out.put(text);
      out.put(']');
    }
  }
  out.put('\n');
}

void char_mat_writer::put_row_start(text_output& out, std::string_view label,
                                    std::string_view comment) const {
  print_label(label, layout_, width_, out);
  if (rules_.comments == comment_style::TRIMMED) {
    // Blanks become "_" so that a reader taking the comment as one word
    // gets all of it.
    out.put("\t[");
    out.put(mapped(trimmed(comment, comment_trim), no_space));
    out.put(']');
  }
  if (type_ == matrix_type::DISCR) out.put('\t');
}

void char_mat_writer::put_cells(text_output& out, const char* cells,
                                std::size_t n) const {
  out.put(std::string_view(cells, n));
}

void char_mat_writer::put_cells(
    text_output& out, const char* cells, std::size_t n,
    std::span<const polymorphic_cell> polymorphisms) {
  if (!rules_.nexus) {
    missing_polymorphisms_ += static_cast<std::int64_t>(polymorphisms.size());
    out.put(std::string_view(cells, n));
    return;
  }
  std::size_t done = 0;
  for (const polymorphic_cell& p : polymorphisms) {
    out.put(std::string_view(cells + done, p.site - done));
    out.put(alphabet_.polymorphism(p.states));
    done = p.site + 1;
  }
  out.put(std::string_view(cells + done, n - done));
}

void char_mat_writer::put_cells(text_output& out, const float* cells,
                                std::size_t n) {
  reals_->put_all(out, cells, n);
}

void char_mat_writer::put_cells(text_output& out, const std::int32_t* cells,
                                std::size_t n) const {
  for (std::size_t j = 0; j < n; ++j) put_count_cell(out, cells[j]);
}

void char_mat_writer::put_row_end(text_output& out,
                                  std::string_view comment) const {
  if (rules_.comments == comment_style::BRACED && !comment.empty()) {
    out.put("\t[");
    out.put(mapped(comment, good_comment));
    out.put(']');
  }
  out.put('\n');
}

void char_mat_writer::put_footer(text_output& out) const {
  if (rules_.nexus) put_command_block(out, true);
}

void print_char_mat(const char_mat_type& matrix, char_format_type layout,
                    text_output& out) {
  print_char_mat(matrix, layout, alphabet_type::dna(), out);
}

void print_char_mat(const char_mat_type& matrix, char_format_type layout,
                    const alphabet_type& alphabet, text_output& out) {
  const matrix_type type = matrix.char_type();
  char_mat_writer writer(layout, type, label_width(matrix.labels, layout), true,
                         alphabet);
  const std::int32_t ntax = matrix.ntax();
  const auto nchar = static_cast<std::size_t>(matrix.nchar());
  writer.put_header(out, ntax, matrix.nchar(), matrix.comment);
  for (std::int32_t i = 1; i <= ntax; ++i) {
    const std::string& comment = matrix.comments(i);
    writer.put_row_start(out, matrix.labels(i), comment);
    switch (type) {
      case matrix_type::DISCR:
        writer.put_cells(out, matrix.discr_row(i), nchar);
        break;
      case matrix_type::QUANT:
        writer.put_cells(out, matrix.quant_row(i), nchar);
        break;
      case matrix_type::CNTCH:
        writer.put_cells(out, matrix.count_row(i), nchar);
        break;
    }
    writer.put_row_end(out, comment);
  }
  writer.put_footer(out);
}

void print_char_mat(const sequence_vecs& sequences, char_format_type layout,
                    text_output& out) {
  // Every check comes before the first character, so a failure leaves no
  // half-written matrix behind.
  if (!read::is_aligned(sequences)) {
    // Name the first sequence that differs from the first one.
    unaligned_error e;
    const std::size_t n = sequences(1).residues.size();
    for (std::int32_t i = 2; i <= sequences.size(); ++i)
      if (sequences(i).residues.size() != n) {
        e.add_detail("\"" + sequences(i).label + "\" has " +
                     std::to_string(sequences(i).residues.size()) +
                     " residues, the first sequence \"" +
                     sequences(1).label + "\" " + std::to_string(n));
        break;
      }
    throw e;
  }
  const std::int32_t ntax = sequences.size();
  if (ntax < 1 || ntax > max_taxa)
    throw range_error("sequence count " + std::to_string(ntax) +
                      " outside 1..5000");
  const std::size_t nchar = sequences(1).residues.size();
  if (nchar < 1 || nchar > static_cast<std::size_t>(max_chars))
    throw range_error("sequence length " + std::to_string(nchar) +
                      " outside 1..1048576");
  const char_mat_writer writer(layout, matrix_type::DISCR,
                               label_width(sequences, layout), false);
  writer.put_header(out, ntax, static_cast<std::int32_t>(nchar), {});
  for (const sequence_type& s : sequences) {
    writer.put_row_start(out, s.label, {});
    writer.put_cells(out, s.residues.data(), s.residues.size());
    writer.put_row_end(out, {});
  }
  writer.put_footer(out);
}

void print_dist_mat(const dist_mat_type& matrix, dist_format_type layout,
                    text_output& out) {
  const std::int32_t ntax = matrix.ntax();
  std::size_t width = 0;
  switch (layout) {
    case dist_format_type::PHYLIP:
      width = 10;
      break;
    case dist_format_type::NEXUS_ENCLOSED:
      width = static_cast<std::size_t>(max_label_length(matrix.labels)) + 2;
      break;
    case dist_format_type::ONE_COLUMN:
      break;
    default:
      width = static_cast<std::size_t>(max_label_length(matrix.labels));
      break;
  }
  const bool nexus = layout == dist_format_type::NEXUS ||
                     layout == dist_format_type::NEXUS_ENCLOSED;

  switch (layout) {
    case dist_format_type::PHYLIP:
    case dist_format_type::EXTENDED_PHYLIP:
      put_integer(out, ntax);
      out.put('\n');
      break;
    case dist_format_type::TAB:
      for (std::int32_t i = 1; i <= ntax; ++i) {
        out.put('\t');
        out.put(matrix.labels(i));
      }
      out.put('\n');
      break;
    case dist_format_type::NEXUS:
    case dist_format_type::NEXUS_ENCLOSED:
      out.put("#NEXUS\n\nbegin distances;\n\tdimensions newtaxa ntax=");
      put_integer(out, ntax);
      out.put(";\n\tformat triangle=both labels;\n\tmatrix\n");
      break;
    case dist_format_type::ONE_COLUMN:
    case dist_format_type::RAW:
      break;
  }

  detail::real_texts reals;
  if (layout == dist_format_type::ONE_COLUMN) {
    // The matrix is symmetric: the strict lower triangle holds every pair.
    for (std::int32_t i = 2; i <= ntax; ++i) {
      for (std::int32_t j = 1; j < i; ++j) {
        out.put(matrix.labels(i));
        out.put('\t');
        out.put(matrix.labels(j));
        reals.put(out, matrix.distances(i, j));
        out.put('\n');
      }
    }
  } else {
    for (std::int32_t i = 1; i <= ntax; ++i) {
      print_label(matrix.labels(i), layout, width, out);
      for (std::int32_t j = 1; j <= ntax; ++j)
        reals.put(out, matrix.distances(i, j));
      out.put('\n');
    }
  }

  if (nexus) put_command_block(out, false);
}

void convert_chars(char_mat_type& matrix, const char_mapping& map) {
  if (matrix.char_type() != matrix_type::DISCR) return;
  for (std::int32_t i = 1; i <= matrix.ntax(); ++i) {
    char* row = matrix.discr_row(i);
    for (std::int32_t j = 0; j < matrix.nchar(); ++j) row[j] = map(row[j]);
  }
}

}  // namespace zurud::print
