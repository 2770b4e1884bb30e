#include "zurud/zurud-read.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "zurud/detail/read-scan.hpp"

namespace zurud::read {

// ---------------------------------------------------------------------------
// Words, labels, headers.

std::string describe(const error& e, text_input* reading) {
  const failure_place place = place_of(reading);
  return failure_text(e, &place);
}

failure_place place_of(text_input* reading) {
  if (reading == nullptr) return {};
  return {reading->name(), reading->line()};
}

std::string read_tab_header(text_input& in) {
  // The whole line is needed, however long (a cut-off count would leave
  // labels in the input and misread every row), but no more than the
  // largest matrix's labels can fill, so that memory stays bounded.
  constexpr std::size_t longest =
      static_cast<std::size_t>(max_taxa) * (max_word_len + 1) + 1;
  std::string line = in.read_line(longest + 1);
  if (line.size() > longest)
    throw format_error("a header line longer than " +
                           std::to_string(longest) + " characters",
                       "it would hold more than 5000 labels of at most " +
                           std::to_string(max_word_len) + " characters");
  return line;
}

format_error long_word_error(std::string_view word) {
  return format_error("word longer than " + std::to_string(max_word_len) +
                      " characters: \"" + printable(word.substr(0, 40)) +
                      "...\"");
}

std::string get_word(text_input& in, const char_set& delimiters) {
  std::string word;
  for (;;) {
    if (!word.empty() && in.end_of_line()) return word;
    const char c = in.read_char();
    if (delimiters.contains(c)) {
      if (!word.empty()) return word;
    } else {
      if (word.size() == max_word_len) throw long_word_error(word);
      word += c;
    }
  }
}

void skip_word(text_input& in, const char_set& delimiters) {
  bool started = false;
  for (;;) {
    if (started && in.end_of_line()) return;
    const char c = in.read_char();
    if (delimiters.contains(c)) {
      if (started) return;
    } else {
      started = true;
    }
  }
}

char get_black(text_input& in, const char_set& delimiters) {
  for (;;) {
    const char c = in.read_char();
    if (!delimiters.contains(c)) return c;
  }
}

void append_black(std::string& target, std::string_view source,
                  const char_set& delimiters) {
  for (char c : source)
    if (!delimiters.contains(c)) target += c;
}

std::string black_only(std::string_view source, const char_set& delimiters) {
  std::string s;
  append_black(s, source, delimiters);
  return s;
}

std::string read_label(text_input& in, label_format_type layout) {
  switch (layout) {
    case label_format_type::PHYLIP: {
      std::string label(10, ' ');
      for (char& c : label) c = in.read_char();
      return label;
    }
    case label_format_type::EXTENDED_PHYLIP:
      return get_word(in, whitespace);
    case label_format_type::COMMENTED_PHYLIP: {
      std::string label = get_word(in, whitespace);
      skip_word(in, whitespace);
      return label;
    }
    case label_format_type::TAB_SEPARATED:
      return get_word(in, controlchr);
  }
  return {};
}

header_type read_header(text_input& in) {
  header_type h;
  h.ntax = in.read_integer();
  if (h.ntax < 1 || h.ntax > max_taxa)
    throw range_error("taxon count " + std::to_string(h.ntax) +
                      " outside 1..5000");
  h.nchar = in.read_integer();
  if (h.nchar < 1 || h.nchar > max_chars)
    throw range_error("character count " + std::to_string(h.nchar) +
                      " outside 1..1048576");
  in.skip_line();
  return h;
}

label_format_type label_layout(char_format_type layout) {
  switch (layout) {
    case char_format_type::PHYLIP:
      return label_format_type::PHYLIP;
    case char_format_type::COMMENTED_PHYLIP:
      return label_format_type::COMMENTED_PHYLIP;
    default:
      return label_format_type::EXTENDED_PHYLIP;
  }
}

// ---------------------------------------------------------------------------
// Data files of any format.

data_format_type detect_data_format(text_input& in) {
  in.skip_byte_order_mark();
  // Looking ahead consumes nothing, so a PHYLIP header is read as before.
  const std::string_view ahead = in.peek(4096);
  std::size_t k = 0;
  while (k < ahead.size() && whitespace.contains(ahead[k])) ++k;
  const std::string_view first = ahead.substr(k);
  if (!first.empty() && first[0] == '>') return data_format_type::FASTA;
  constexpr std::string_view nexus = "#nexus";
  if (first.size() >= nexus.size()) {
    bool same = true;
    for (std::size_t j = 0; j < nexus.size(); ++j)
      same = same && lower_case_map(first[j]) == nexus[j];
    if (same) return data_format_type::NEXUS;
  }
  return data_format_type::PHYLIP;
}

namespace {

// What a first line that is not a PHYLIP header most likely is, for the
// message: alignments saved in other formats are the usual cause.
std::string known_format(std::string_view line) {
  auto starts = [&](std::string_view p) { return line.substr(0, p.size()) == p; };
  if (starts("CLUSTAL") || starts("MUSCLE") || starts("PROBCONS"))
    return "a Clustal alignment: save it as FASTA";
  if (starts("# STOCKHOLM")) return "a Stockholm alignment: save it as FASTA";
  if (starts("!!NA_MULTIPLE_ALIGNMENT") || starts("!!AA_MULTIPLE_ALIGNMENT") ||
      starts("PileUp"))
    return "an MSF alignment: save it as FASTA";
  if (starts("LOCUS ")) return "a GenBank record: save the alignment as FASTA";
  if (starts("ID ")) return "an EMBL record: save the alignment as FASTA";
  if (starts("@")) return "FASTQ reads, not an alignment";
  if (starts("<?xml") || starts("<")) return "XML: save the alignment as FASTA";
  return "a PHYLIP file starts with the number of associates and of sites";
}

// Reads a header with `read`. A first line that does not begin like a
// number is refused through `refusal(text, ahead)`, text being the line from
// its first character that is not whitespace; one that does keeps its own
// message (a count too large, a broken literal), with the line quoted.
template <typename Read, typename Refusal>
auto read_header_line(text_input& in, Read read, Refusal refusal) {
  const std::string ahead(in.peek(4096));
  const std::string first = ahead.substr(0, std::min<std::size_t>(
                                                ahead.find('\n'), 60));
  try {
    return read();
  } catch (format_error& e) {
    std::size_t k = 0;
    while (k < first.size() && whitespace.contains(first[k])) ++k;
    const std::string_view text = std::string_view(first).substr(k);
    if (!text.empty() && std::string_view("0123456789+-.").find(text[0]) !=
                             std::string_view::npos) {
      e.add_detail("on the header line \"" + printable(text.substr(0, 40)) +
                   "\"");
      throw;
    }
    throw refusal(text, std::string_view(ahead));
  }
}

std::string found(std::string_view text, const char* where) {
  return "found \"" + printable(text.substr(0, 40)) + "\" where " + where +
         " should stand";
}

// The PHYLIP header; a first line of text says what it looks like.
// The counts of a PHYLIP header up to the given tops (read_header's are
// those of char_mat_type).
header_type read_wide_header(text_input& in, std::int64_t top_ntax,
                             std::int64_t top_nchar) {
  header_type h;
  h.ntax = in.read_integer();
  if (h.ntax < 1 || h.ntax > top_ntax)
    throw range_error("taxon count " + std::to_string(h.ntax) + " outside 1.." +
                      std::to_string(top_ntax));
  h.nchar = in.read_integer();
  if (h.nchar < 1 || h.nchar > top_nchar)
    throw range_error("character count " + std::to_string(h.nchar) +
                      " outside 1.." + std::to_string(top_nchar));
  in.skip_line();
  return h;
}

header_type read_phylip_header(text_input& in, bool wide = false) {
  return read_header_line(
      in,
      [&] {
        return wide ? read_wide_header(in, INT32_MAX, max_streamed_chars)
                    : read_header(in);
      },
      [](std::string_view text, std::string_view ahead) {
        if (ahead.find("\n>") != std::string_view::npos)
          return detail::text_before_fasta_header(text);
        return format_error(found(text, "the header"), known_format(text));
      });
}

// Stores each row where a row_store keeps it.
class stored_rows final : public row_sink {
 public:
  explicit stored_rows(detail::row_store& store) : store_(store) {}
  bool accept(std::int32_t, std::int32_t) override { return true; }
  char* row_memory() override { return store_.row(next_); }
  void take(std::int32_t, const std::string&, char*) override { ++next_; }

 private:
  detail::row_store& store_;
  std::size_t next_ = 0;
};

// PHYLIP rows whose matrix could not be reserved: stored cells are kept a
// row at a time (cells for `sink` go there) and the matrix is made once
// every row is read.
char_mat_access read_unreserved(text_input& in, const header_type& h,
                                const data_file_options& options,
                                data_notes* notes, row_sink* sink) {
  tax_lab_type labels(h.ntax);
  std::optional<detail::row_store> store;
  std::optional<stored_rows> rows;
  if (sink == nullptr) {
    store.emplace(options.cells.store ? static_cast<std::size_t>(h.ntax) : 0,
                  static_cast<std::size_t>(h.nchar));
    sink = &rows.emplace(*store);
  }
  if (options.interleaved)
    detail::read_unreserved_interleaved(in, options.layout, labels, h.nchar,
                                        options.cells, *store);
  else
    detail::read_unreserved_rows(in, options.layout, labels, h.nchar,
                                 options.cells, notes, *sink);
  auto matrix =
      options.cells.store && store
          ? std::make_unique<char_mat_type>(h.ntax, h.nchar, store->block())
          : std::make_unique<char_mat_type>(h.ntax, h.nchar,
                                            matrix_type::DISCR);
  matrix->labels = std::move(labels);
  return matrix;
}

}  // namespace

namespace detail {

std::unique_ptr<char[]> row_store::block() {
  auto cells = new_discr_cells(rows_.size() * nchar_);
  for (std::size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i]) {
      std::memcpy(cells.get() + i * nchar_, rows_[i].get(), nchar_);
      rows_[i].reset();
    }
  return cells;
}

}  // namespace detail

std::int32_t read_dist_header(text_input& in, dist_format_type layout) {
  std::int64_t n;
  if (layout == dist_format_type::TAB) {
    // The whole header line is counted, however long: a cut-off count would
    // leave labels in the input and misread every row.
    const std::string line = read_tab_header(in);
    n = std::count(line.begin(), line.end(), '\t');
  } else {
    n = read_header_line(
        in, [&] { return in.read_integer(); },
        [](std::string_view text, std::string_view) {
          std::string start(text.substr(0, 6));
          for (char& c : start) c = lower_case_map(c);
          const bool nexus = start == "#nexus";
          return format_error(
              found(text, "the count of taxa"),
              nexus ? "a NEXUS distances block is not read: write the "
                      "matrix as PHYLIP, EXTENDED_PHYLIP or TAB"
                    : "a distance matrix starts with the number of taxa");
        });
  }
  if (n < 1 || n > max_taxa)
    throw range_error("taxon count " + std::to_string(n) + " outside 1..5000");
  if (layout != dist_format_type::TAB) in.skip_line();
  return static_cast<std::int32_t>(n);
}

char_mat_access read_data_file(text_input& in, const data_file_options& options,
                               data_format_type* format, data_notes* notes) {
  const data_format_type f = detect_data_format(in);
  if (format != nullptr) *format = f;
  switch (f) {
    case data_format_type::FASTA:
      return read_fasta_matrix(in, options.cells);
    case data_format_type::NEXUS:
      return read_nexus_matrix(in, options.cells,
                               notes != nullptr ? &notes->declared : nullptr);
    case data_format_type::PHYLIP:
      break;
  }
  const header_type h = read_phylip_header(in);
  char_mat_access matrix;
  try {
    matrix =
        std::make_unique<char_mat_type>(h.ntax, h.nchar, matrix_type::DISCR);
  } catch (const std::bad_alloc&) {
    // Under a memory limit the block a header declares may not be had at
    // once. Rows are then kept as they come, so that a file that holds
    // fewer fails as truncated, as it does without the limit.
  }
  row_sink* const sink =
      options.rows != nullptr && !options.interleaved && options.cells.store &&
              options.rows->accept(h.ntax, h.nchar)
          ? options.rows
          : nullptr;
  std::optional<detail::page_populator> populator;
  if (options.cells.store && (matrix || sink != nullptr)) {
    const std::span<std::uint8_t> fresh =
        sink != nullptr
            ? sink->fresh_memory()
            : std::span<std::uint8_t>(
                  reinterpret_cast<std::uint8_t*>(matrix->discr_row(1)),
                  static_cast<std::size_t>(h.ntax) *
                      static_cast<std::size_t>(h.nchar));
    // With helper threads, one faults the memory in while rows are read
    // (below a few megabytes a thread costs more than the faults it saves).
    // Without, the folds' memory is faulted in at once, which is cheaper
    // than a fault a page: every host's first row writes all of its part
    // anyway. Stored cells are left to fill row by row, so that a file
    // failing early has not cost their whole size first.
    if (options.helper_threads && fresh.size() >= (8u << 20))
      populator.emplace(fresh.data(), fresh.size());
    else if (!options.helper_threads && sink != nullptr)
      detail::populate_now(fresh.data(), fresh.size());
  }
  if (!matrix)
    matrix = read_unreserved(in, h, options, notes, sink);
  else if (options.interleaved)
    read_interleaved_char_mat(in, options.layout, *matrix, options.cells);
  else
    read_char_mat(in, options.layout, *matrix, options.cells, notes, sink);
  if (notes != nullptr && options.whole_input) note_rest(in, *notes);
  return matrix;
}

bool streams_rows(data_format_type format,
                  const data_file_options& options) noexcept {
  return format == data_format_type::FASTA ||
         (format == data_format_type::PHYLIP && !options.interleaved);
}

data_rows_type read_data_rows(text_input& in, const data_file_options& options,
                              row_sink& rows, data_format_type* format,
                              data_notes* notes) {
  const data_format_type f = detect_data_format(in);
  if (format != nullptr) *format = f;
  if (!streams_rows(f, options))
    throw constraint_error("the rows of this data file are not read one at "
                           "a time (NEXUS, or interleaved PHYLIP)");
  data_rows_type result;
  if (f == data_format_type::FASTA) {
    result.nchar = detail::read_fasta_rows(in, options.cells, result.labels,
                                           rows);
  } else {
    const header_type h = read_phylip_header(in, true);
    result.nchar = h.nchar;
    if (options.cells.store && !rows.accept(h.ntax, h.nchar))
      throw std::logic_error("a sink of streamed rows declined them");
    detail::read_streamed_rows(in, options.layout, result.labels, h.ntax,
                               h.nchar, options.cells, notes, rows);
  }
  if (notes != nullptr && options.whole_input) note_rest(in, *notes);
  return result;
}

}  // namespace zurud::read
