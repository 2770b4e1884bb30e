#include "zurud/zurud-read.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "zurud/detail/read-scan.hpp"
#include "zurud/zurud-text.hpp"

namespace zurud::read {

namespace {

std::string trimmed(std::string_view s, const char_set& set) {
  std::size_t first = 0, last = s.size();
  while (first < last && set.contains(s[first])) ++first;
  while (last > first && set.contains(s[last - 1])) --last;
  return std::string(s.substr(first, last - first));
}

std::string character_name(char c) {
  const auto code = static_cast<unsigned char>(c);
  if (code > 32 && code < 127) return std::string("\"") + c + "\"";
  return "code " + std::to_string(code);
}

std::string quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

// A header's text as a label: trimmed, and with every other control
// character made "_", as a raw TAB would split the label's column.
std::string header_label(std::string_view text) {
  std::string label = trimmed(text, whitespace);
  for (char& c : label) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 32 || code == 127) c = '_';
  }
  return label;
}

template <typename Error>
[[noreturn]] void fail_at(Error e, std::int64_t line) {
  e.set_line(line);
  throw e;
}

// Cleans one data line into the residues of the sequence being read: blanks,
// TABs and carriage returns go, "." becomes "-". A bad residue fails at its
// own line, and a sequence fails as soon as it outgrows the largest row.
void add_residues(std::string_view line, std::int64_t line_number,
                  const std::string& label, std::string& residues) {
  for (char c : line) {
    if (whitespace.contains(c)) continue;
    c = good_gaps(c);
    if (non_wide_nuc_set.contains(c))
      fail_at(invalid_character_error("invalid residue " + character_name(c),
                                      "in sequence " + quoted(label)),
              line_number);
    residues += c;
  }
  if (residues.size() > static_cast<std::size_t>(max_chars))
    fail_at(range_error("sequence " + quoted(label) +
                        " has more than 1048576 residues"),
            line_number);
}

}  // namespace

void read_fasta(text_input& in, sequence_vecs& sequences) {
  std::string label;
  std::string residues;
  std::int64_t headers = 0;
  // Data lines are read in pieces of max_line_len; only a piece that starts
  // a line may be a header, so a ">" that a long line happens to bring to
  // the start of a piece stays a residue (and is refused as one).
  bool line_start = true;
  while (!in.end_of_input()) {
    const std::int64_t line_number = in.line();
    if (line_start && in.peek(1) == ">") {
      // A header is read whole: its text is the label, never residues. The
      // bound only keeps an endless line from filling the memory.
      const std::string line = in.read_line(2 * max_line_len);
      if (++headers > 1) {
        sequences.append(sequence_type{label, {}, residues});
        residues.clear();
      }
      std::string text = header_label(std::string_view(line).substr(1));
      if (line.size() == 2 * max_line_len || text.size() > max_line_len)
        fail_at(format_error("a FASTA header of more than 10000 characters",
                             "it begins " + quoted(text.substr(0, 40))),
                line_number);
      // The vector is full: the record this header opens has no room, so
      // the input is not read any further.
      if (sequences.size() >= max_taxa)
        fail_at(range_error("more than 5000 sequences",
                            "the header " + quoted(line.substr(0, 40)) +
                                " opens the 5001st"),
                line_number);
      label = std::move(text);
    } else {
      const std::string piece = in.read_line(max_line_len);
      add_residues(piece, line_number, label, residues);
      // A full piece whose line end was not consumed leaves the rest of its
      // line for the next piece.
      line_start = piece.size() < max_line_len || in.line() != line_number;
    }
  }
  sequences.append(sequence_type{label, {}, residues});
}

format_error detail::text_before_fasta_header(std::string_view text) {
  return format_error("characters before the first FASTA header: " +
                          quoted(text.substr(0, 40)),
                      "a FASTA file starts with a header line \">name\"");
}

void skip_to_fasta_header(text_input& in) {
  in.skip_byte_order_mark();
  if (in.skip_members(whitespace))
    throw format_error("no FASTA record: the input is empty");
  if (in.peek(1) != ">") throw detail::text_before_fasta_header(in.peek_line());
}

bool is_aligned(const sequence_vecs& sequences) {
  if (sequences.empty())
    throw range_error("no sequences to check for alignment");
  const std::size_t length = sequences(1).residues.size();
  if (length == 0) throw range_error("the first sequence has no residues");
  for (const sequence_type& s : sequences)
    if (s.residues.size() != length) return false;
  return true;
}

// ---------------------------------------------------------------------------
// FASTA as a data file.

namespace {

// The end of one record's cells: how many were stored, and whether more
// characters that are not whitespace follow before the next header (the
// scan then stops at the first of them).
struct record_cells {
  std::size_t stored;
  bool more;
};

// Scans the lines of one record, from the line after its header up to the
// next line that starts with ">" or the end of the input, storing at most
// `limit` cells at dst (counting them only, with dst null). Whole buffers
// are scanned at once: a header is a ">" right after a line feed, and the
// row-scan loops pass over the line ends between residues.
record_cells scan_record(text_input& in, char* dst, std::size_t limit,
                         const char_mapping& map, bool line_start = true) {
  const auto& k = detail::kernels();
  const auto copy = k.copy_black[static_cast<int>(detail::scan_case(map))];
  char* const first = dst;
  std::size_t n = limit;
  for (;;) {
    const std::string_view view = in.peek_buffer();
    if (view.empty()) break;
    const char* const p = view.data();
    const char* const e = p + view.size();
    const char* header = nullptr;
    if (line_start && *p == '>') {
      header = p;
    } else {
      for (const char* q = p + 1; q < e;) {
        const void* hit = std::memchr(q, '>', static_cast<std::size_t>(e - q));
        if (hit == nullptr) break;
        const char* h = static_cast<const char*>(hit);
        if (h[-1] == '\n') {
          header = h;
          break;
        }
        q = h + 1;
      }
    }
    const char* const stop = header != nullptr ? header : e;
    detail::row_scan s{p, stop, dst, n};
    if (dst != nullptr)
      copy(s);
    else
      k.skip_black(s);
    n = s.n;
    dst = s.dst;
    if (n == 0) {
      // The row is full: only whitespace may follow before the header.
      const char* q = s.p;
      while (q < stop && whitespace.contains(*q)) ++q;
      if (q < stop) {
        in.consume(static_cast<std::size_t>(q - p));
        if (first != nullptr) detail::finish_cells(first, limit, map);
        return {limit, true};
      }
      s.p = q;
    }
    in.consume(static_cast<std::size_t>(s.p - p));
    if (header != nullptr) break;
    line_start = s.p[-1] == '\n';
  }
  const std::size_t stored = limit - n;
  if (first != nullptr) {
    detail::finish_cells(first, stored, map);
    // "." is the gap of many FASTA writers.
    for (char* c = first; (c = static_cast<char*>(std::memchr(
                               c, '.', stored - static_cast<std::size_t>(
                                                    c - first)))) != nullptr;)
      *c++ = '-';
  }
  return {stored, false};
}

// Counts the cells left in a record that overran its length, up to the
// largest row, for the message.
std::size_t count_rest(text_input& in, std::size_t known) {
  const std::size_t limit = static_cast<std::size_t>(max_chars) + 1 - known;
  return known + scan_record(in, nullptr, limit, char_mapping()).stored;
}

// The header line: ">" then the label, its first word; the rest of the line
// is a description and is passed over.
std::string read_header_label(text_input& in) {
  in.consume(1);  // ">"
  for (;;) {
    const std::string_view line = in.peek_line();
    if (line.empty()) break;
    std::size_t k = 0;
    while (k < line.size() && whitespace.contains(line[k])) ++k;
    in.consume(k);
    if (k < line.size()) break;
  }
  if (in.end_of_line())
    throw format_error("a FASTA header without a name");
  std::string label = get_word(in, whitespace);
  if (!in.exhausted()) in.skip_line();
  return label;
}

// A cell block for `rows` rows of `nchar`, fewer when the system will not
// reserve that much: untouched rows cost nothing, so the block is sized for
// the most rows a matrix may have.
std::unique_ptr<char[]> cell_block(std::size_t rows, std::size_t nchar,
                                   std::size_t& capacity) {
  for (capacity = rows;; capacity = std::max<std::size_t>(1, capacity / 2)) {
    try {
      return new_discr_cells(capacity * nchar);
    } catch (const std::bad_alloc&) {
      if (capacity == 1) throw;
    }
  }
}

}  // namespace

char_mat_access read_fasta_matrix(text_input& in, const cell_options& cells) {
  skip_to_fasta_header(in);
  const std::size_t max_row = static_cast<std::size_t>(max_chars);
  std::vector<std::string> labels;
  std::vector<std::int64_t> header_lines;
  std::unique_ptr<char[]> block;
  std::size_t capacity = 0;
  std::size_t nchar = 0;
  while (!in.exhausted()) {
    const std::int64_t line = in.line();
    if (labels.size() == static_cast<std::size_t>(max_taxa))
      throw range_error("more than 5000 sequences",
                        "the FASTA header at line " + std::to_string(line) +
                            " is the 5001st");
    labels.push_back(read_header_label(in));
    header_lines.push_back(line);
    const std::string& label = labels.back();
    const std::size_t row = labels.size() - 1;
    if (row == 0) {
      // The first record fixes the row length; it is read into a row of
      // the largest size, then moved into the block.
      auto first = cells.store ? std::make_unique_for_overwrite<char[]>(max_row)
                               : nullptr;
      const record_cells r = scan_record(in, first.get(), max_row, cells.map);
      if (r.more)
        throw range_error("sequence " + quoted(label) +
                          " has more than 1048576 sites");
      if (r.stored == 0)
        throw format_error("sequence " + quoted(label) + " has no sites");
      nchar = r.stored;
      if (cells.store) {
        block = cell_block(static_cast<std::size_t>(max_taxa), nchar, capacity);
        std::memcpy(block.get(), first.get(), nchar);
      }
      continue;
    }
    if (cells.store && row == capacity) {
      const std::size_t old = capacity;
      auto grown = cell_block(std::min<std::size_t>(2 * old, max_taxa), nchar,
                              capacity);
      std::memcpy(grown.get(), block.get(), old * nchar);
      block = std::move(grown);
    }
    char* dst = cells.store ? block.get() + row * nchar : nullptr;
    const record_cells r = scan_record(in, dst, nchar, cells.map);
    if (r.more || r.stored != nchar) {
      const std::size_t have = r.more ? count_rest(in, nchar) : r.stored;
      const std::string count = have > max_row ? "more than 1048576"
                                               : std::to_string(have);
      throw format_error(
          "sequence " + quoted(label) + " (line " +
              std::to_string(header_lines.back()) + ") has " + count +
              " sites, the first sequence " + quoted(labels.front()) + " " +
              std::to_string(nchar),
          "the sequences are not aligned");
    }
  }
  const auto ntax = static_cast<std::int32_t>(labels.size());
  const auto width = static_cast<std::int32_t>(nchar);
  // Cells that were not stored still get a (never touched) block, so that
  // the matrix is whole.
  auto matrix =
      cells.store
          ? std::make_unique<char_mat_type>(ntax, width, std::move(block))
          : std::make_unique<char_mat_type>(ntax, width, matrix_type::DISCR);
  for (std::int32_t i = 1; i <= ntax; ++i)
    matrix->labels(i) = std::move(labels[static_cast<std::size_t>(i - 1)]);
  return matrix;
}

namespace {

// The cells of one FASTA record of standard characters, where a set of
// states in braces or parentheses is one cell ("?"): a line at a time up to
// the next header.
std::string record_with_sets(text_input& in, const char_mapping& map) {
  std::string cells;
  while (!in.exhausted()) {
    const std::string_view first = in.peek(1);
    if (first == ">") break;
    if (in.end_of_line()) {
      in.skip_line();
      continue;
    }
    std::string line = in.read_line(std::string::npos);
    for (std::size_t k = 0; k < line.size(); ++k) {
      const char c = line[k];
      if (whitespace.contains(c)) continue;
      if (c == '{' || c == '(') {
        const std::size_t end = line.find(c == '{' ? '}' : ')', k);
        if (end == std::string::npos)
          throw format_error(std::string("a set of states opened with \"") +
                             c + "\" is not closed on its line");
        cells += '?';
        k = end;
      } else if (c == '}' || c == ')') {
        throw format_error(std::string("\"") + c +
                           "\" without the mark that opens its set of states");
      } else {
        cells += c == '.' ? '-' : map(c);
      }
    }
  }
  return cells;
}

}  // namespace

namespace detail {

std::int32_t read_fasta_rows(text_input& in, const cell_options& cells,
                             std::vector<std::string>& labels,
                             row_sink& rows) {
  skip_to_fasta_header(in);
  const auto max_row = static_cast<std::size_t>(max_streamed_chars);
  std::vector<std::int64_t> first_line;
  std::size_t nchar = 0;
  std::unique_ptr<char[]> first;
  while (!in.exhausted()) {
    const std::int64_t line = in.line();
    if (labels.size() == static_cast<std::size_t>(INT32_MAX))
      throw range_error("more than 2147483647 sequences",
                        "the FASTA header at line " + std::to_string(line));
    labels.push_back(read_header_label(in));
    const std::string& label = labels.back();
    const auto row = static_cast<std::int32_t>(labels.size());
    if (cells.sets) {
      // Standard characters, whose sets of states are one cell each.
      const std::string record = record_with_sets(in, cells.map);
      if (row == 1) {
        if (record.empty())
          throw format_error("sequence " + quoted(label) + " has no sites");
        if (record.size() > max_row)
          throw range_error("sequence " + quoted(label) + " has more than " +
                            std::to_string(max_row) + " sites");
        nchar = record.size();
        if (cells.store &&
            !rows.accept(0, static_cast<std::int32_t>(nchar)))
          throw std::logic_error("a sink of streamed rows declined them");
      } else if (record.size() != nchar) {
        throw format_error("sequence " + quoted(label) + " (line " +
                               std::to_string(line) + ") has " +
                               std::to_string(record.size()) +
                               " sites, the first sequence " +
                               quoted(labels.front()) + " " +
                               std::to_string(nchar),
                           "the sequences are not aligned");
      }
      if (cells.store) {
        char* const dst = rows.row_memory();
        std::memcpy(dst, record.data(), nchar);
        rows.take(row, label, dst);
      }
      continue;
    }
    if (row == 1) {
      first_line.push_back(line);
      // The first record fixes the row length: it is read into a row that
      // grows until it holds the record.
      std::size_t capacity = std::size_t{1} << 20, stored = 0;
      first = std::make_unique_for_overwrite<char[]>(capacity);
      for (;;) {
        const record_cells r = scan_record(
            in, first.get() + stored, capacity - stored,
            cells.store ? cells.map : char_mapping(), stored == 0);
        stored += r.stored;
        if (!r.more) break;
        if (capacity == max_row)
          throw range_error("sequence " + quoted(label) + " has more than " +
                            std::to_string(max_row) + " sites");
        auto grown = std::make_unique_for_overwrite<char[]>(
            std::min(max_row, 4 * capacity));
        std::memcpy(grown.get(), first.get(), stored);
        first = std::move(grown);
        capacity = std::min(max_row, 4 * capacity);
      }
      if (stored == 0)
        throw format_error("sequence " + quoted(label) + " has no sites");
      nchar = stored;
      if (cells.store && !rows.accept(0, static_cast<std::int32_t>(nchar)))
        throw std::logic_error("a sink of streamed rows declined them");
      if (cells.store) {
        char* const dst = rows.row_memory();
        std::memcpy(dst, first.get(), nchar);
        rows.take(row, label, dst);
      }
      first.reset();
      continue;
    }
    char* dst = cells.store ? rows.row_memory() : nullptr;
    const record_cells r = scan_record(in, dst, nchar, cells.map);
    if (r.more || r.stored != nchar) {
      const std::size_t have =
          r.more ? nchar + scan_record(in, nullptr, max_row + 1 - nchar,
                                       char_mapping()).stored
                 : r.stored;
      const std::string count = have > max_row
                                    ? "more than " + std::to_string(max_row)
                                    : std::to_string(have);
      throw format_error(
          "sequence " + quoted(label) + " (line " + std::to_string(line) +
              ") has " + count + " sites, the first sequence " +
              quoted(labels.front()) + " " + std::to_string(nchar),
          "the sequences are not aligned");
    }
    if (dst != nullptr) rows.take(row, label, dst);
  }
  return static_cast<std::int32_t>(nchar);
}

}  // namespace detail

}  // namespace zurud::read
