#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "zurud/detail/read-scan.hpp"
#include "zurud/zurud-read.hpp"

namespace zurud::read {

namespace {

// Where read_rows stores the cells of a DISCR matrix: row after row.
class matrix_rows final : public row_sink {
 public:
  explicit matrix_rows(char_mat_type& matrix) : matrix_(matrix) {}
  bool accept(std::int32_t, std::int32_t) override { return true; }
  char* row_memory() override { return matrix_.discr_row(next_); }
  void take(std::int32_t, const std::string&, char*) override { ++next_; }

 private:
  char_mat_type& matrix_;
  std::int32_t next_ = 1;
};

// Labels kept in a vector that grows as the rows come, for files whose
// header may declare more rows than they hold.
class growing_labels {
 public:
  explicit growing_labels(std::vector<std::string>& labels) : labels_(labels) {}
  std::string& operator()(std::int32_t i) {
    if (static_cast<std::size_t>(i) > labels_.size())
      labels_.resize(static_cast<std::size_t>(i));
    return labels_[static_cast<std::size_t>(i - 1)];
  }

 private:
  std::vector<std::string>& labels_;
};

// The rows of read_char_mat: ntax labels to `names`, DISCR cells stored
// through `map` where `rows` says or, without `store`, only consumed; QUANT
// and CNTCH cells into `matrix`.
template <typename Names>
void read_rows(text_input& in, char_format_type layout, Names& names,
               std::int32_t ntax, std::int32_t nchar, matrix_type type,
               char_mat_type* matrix, const char_mapping& map, bool store,
               row_sink& rows, data_notes* notes = nullptr, bool sets = false) {
  const label_format_type labels = label_layout(layout);
  std::int32_t i = 1;
  const std::int64_t first_line = in.line();
  // The first row whose ten-character label ran over a line end: names
  // shorter than ten characters that are not padded take the cells, and
  // then the next row's name, into the label.
  std::int32_t spanning = 0;
  try {
    for (; i <= ntax; ++i) {
      const std::int64_t label_line =
          labels == label_format_type::PHYLIP && spanning == 0 ? in.line() : 0;
      names(i) = read_label(in, labels);
      if (label_line != 0 && in.line() != label_line) {
        spanning = i;
        if (notes != nullptr) notes->label_over_line_end = i;
      }
      switch (type) {
        case matrix_type::DISCR: {
          const auto n = static_cast<std::size_t>(nchar);
          if (sets) {
            char* const cells = store ? rows.row_memory() : nullptr;
            detail::read_cells_with_sets(in, cells, n, map);
            if (store) rows.take(i, names(i), cells);
          } else if (!store) {
            in.skip_black(n);
          } else {
            char* const cells = rows.row_memory();
            in.read_black(cells, n, map);
            rows.take(i, names(i), cells);
          }
          break;
        }
        case matrix_type::QUANT: {
          float* row = matrix->quant_row(i);
          for (std::int32_t j = 0; j < nchar; ++j) {
            const double v = in.read_real();
            if (std::isfinite(v) && std::fabs(v) > max_float)
              throw range_error("value " + std::to_string(v) +
                                " beyond single precision");
            row[j] = static_cast<float>(v);
          }
          break;
        }
        case matrix_type::CNTCH: {
          std::int32_t* row = matrix->count_row(i);
          for (std::int32_t j = 0; j < nchar; ++j) {
            const std::int32_t v = in.read_integer();
            if (v < 0) throw range_error("negative count " + std::to_string(v));
            row[j] = v;
          }
          break;
        }
      }
      // The end of the input also ends the last row: a file whose last cell
      // is its last byte is complete.
      if (notes != nullptr) {
        const std::string_view rest = in.peek_line();
        std::size_t k = 0;
        while (k < rest.size() && whitespace.contains(rest[k])) ++k;
        if (k < rest.size() && notes->trailing_rows++ == 0) {
          notes->trailing_line = in.line();
          notes->trailing_text = std::string(rest.substr(k, 40));
        }
      }
      if (!in.exhausted()) in.skip_line();
    }
  } catch (end_of_file_error& e) {
    // Read as sequential rows, an interleaved file lets its first rows take
    // the lines of the rows below until the input runs out: the rows have
    // used more lines than there are of them.
    const std::int64_t lines = in.line() - first_line;
    if (spanning != 0)
      e.add_detail("the ten-character label of row " +
                   std::to_string(spanning) +
                   " runs over a line end; if the names are not padded to "
                   "ten characters, read the file with -x");
    else if (lines > i)
      e.add_detail("rows 1 to " + std::to_string(i) + " took " +
                   std::to_string(lines) +
                   " lines; if the file is interleaved, read it with -i");
    e.add_detail("row " + std::to_string(i) + " of " + std::to_string(ntax));
    throw;
  } catch (error& e) {
    e.add_detail("row " + std::to_string(i) + " of " + std::to_string(ntax));
    throw;
  }
}

}  // namespace

void read_char_mat(text_input& in, char_format_type layout,
                   char_mat_type& matrix) {
  read_char_mat(in, layout, matrix, char_mapping());
}

void read_char_mat(text_input& in, char_format_type layout,
                   char_mat_type& matrix, const char_mapping& map) {
  matrix_rows rows(matrix);
  read_rows(in, layout, matrix.labels, matrix.ntax(), matrix.nchar(),
            matrix.char_type(), &matrix, map, true, rows);
}

void skim_char_mat(text_input& in, char_format_type layout,
                   char_mat_type& matrix) {
  matrix_rows rows(matrix);
  read_rows(in, layout, matrix.labels, matrix.ntax(), matrix.nchar(),
            matrix.char_type(), &matrix, char_mapping(), false, rows);
}

void read_char_mat(text_input& in, char_format_type layout,
                   char_mat_type& matrix, const cell_options& cells,
                   data_notes* notes, row_sink* sink) {
  matrix_rows rows(matrix);
  read_rows(in, layout, matrix.labels, matrix.ntax(), matrix.nchar(),
            matrix.char_type(), &matrix, cells.map, cells.store,
            sink != nullptr ? *sink : rows, notes);
}

namespace detail {

void read_unreserved_rows(text_input& in, char_format_type layout,
                          tax_lab_type& labels, std::int32_t nchar,
                          const cell_options& cells, data_notes* notes,
                          row_sink& rows) {
  read_rows(in, layout, labels, labels.size(), nchar, matrix_type::DISCR,
            nullptr, cells.map, cells.store, rows, notes);
}

void read_streamed_rows(text_input& in, char_format_type layout,
                        std::vector<std::string>& labels, std::int32_t ntax,
                        std::int32_t nchar, const cell_options& cells,
                        data_notes* notes, row_sink& rows) {
  growing_labels names(labels);
  read_rows(in, layout, names, ntax, nchar, matrix_type::DISCR, nullptr,
            cells.map, cells.store, rows, notes, cells.sets);
}

namespace {

// The marks of a set of states: opening and closing ones.
bool set_mark(char c) { return c == '{' || c == '(' || c == '}' || c == ')'; }

// The rest of a set of states opened by `open`, read from the input up to
// its closing mark on the same line.
void pass_set(text_input& in, char open) {
  const char close = open == '{' ? '}' : ')';
  for (;;) {
    if (in.end_of_line())
      throw format_error(std::string("a set of states opened with \"") + open +
                         "\" is not closed on its line");
    const char d = in.read_char();
    if (d == close) return;
    if (set_mark(d))
      throw format_error(std::string("\"") + d + "\" inside a set of states");
  }
}

// The cells cells[from, end) read from one line, marks of sets among them,
// made into cells from `from` on, each set one missing cell "?". A set left
// open at `end` is read on from the input when the line goes on (`line_end`
// false), else it is not closed on its line. Returns the cells made.
std::size_t make_sets(text_input& in, char* cells, std::size_t from,
                      std::size_t end, bool line_end) {
  std::size_t o = from;
  for (std::size_t i = from; i < end; ++i) {
    const char c = cells[i];
    if (c == '}' || c == ')')
      throw format_error(std::string("\"") + c +
                         "\" without the mark that opens its set of states");
    if (c != '{' && c != '(') {
      cells[o++] = c;
      continue;
    }
    const char close = c == '{' ? '}' : ')';
    std::size_t k = i + 1;
    for (; k < end && cells[k] != close; ++k)
      if (set_mark(cells[k]))
        throw format_error(std::string("\"") + cells[k] +
                           "\" inside a set of states");
    if (k == end) {
      if (line_end)
        throw format_error(std::string("a set of states opened with \"") + c +
                           "\" is not closed on its line");
      pass_set(in, c);
    }
    cells[o++] = '?';
    i = k;
  }
  return o;
}

}  // namespace

void read_cells_with_sets(text_input& in, char* dst, std::size_t n,
                          const char_mapping& map) {
  // Sets are rare: each line's cells are read the fast way, and only a line
  // that shows the mark of a set is made into cells again in memory (a set
  // lies on one line). The marks stay themselves under the map.
  char_mapping keep_marks = map;
  for (const char m : {'{', '(', '}', ')'})
    keep_marks.set(static_cast<unsigned char>(m), m);
  std::string buffer;
  char* const cells = dst != nullptr ? dst : (buffer.resize(n), buffer.data());
  std::size_t j = 0;
  while (j < n) {
    const std::size_t got = in.read_black_in_line(cells + j, n - j, keep_marks);
    if (got == 0) {
      // A line end, or the end of the input (read_char says so).
      if (in.exhausted()) in.read_char();
      in.skip_members(whitespace);
      continue;
    }
    const char* const at = cells + j;
    const bool marked = std::memchr(at, '{', got) ||
                        std::memchr(at, '(', got) ||
                        std::memchr(at, '}', got) || std::memchr(at, ')', got);
    if (!marked) {
      j += got;
      continue;
    }
    // With cells left to read, the line ended where the reading stopped.
    j = make_sets(in, cells, j, j + got, j + got < n);
  }
}

}  // namespace detail

void note_rest(text_input& in, data_notes& notes) {
  for (;;) {
    if (in.skip_members(whitespace)) return;
    if (notes.extra_lines++ == 0) notes.extra_line = in.line();
    if (in.exhausted()) return;
    in.skip_line();
  }
}

// ---------------------------------------------------------------------------
// Interleaved rows.

namespace {

// The cells a row takes from the rest of the current line (at most the
// `room` left in the row), then the line end. Lines of interleaved files are
// short, so each is scanned as one piece of the buffer.
std::size_t take_line(text_input& in, char* dst, std::size_t room,
                      void (*copy)(detail::row_scan&)) {
  const auto skip = detail::kernels().skip_black;
  std::size_t n = room;
  for (std::string_view v; !(v = in.peek_buffer()).empty();) {
    const char* const p = v.data();
    const void* nl = std::memchr(p, '\n', v.size());
    const char* const e =
        nl != nullptr ? static_cast<const char*>(nl) : p + v.size();
    detail::row_scan s{p, e, dst, n};
    if (dst != nullptr)
      copy(s);
    else
      skip(s);
    for (const char* q = s.p; q < e; ++q)
      if (!whitespace.contains(*q))
        throw format_error("the line takes the row past its length (" +
                           std::to_string(room) + " sites were left)");
    n = s.n;
    dst = s.dst;
    if (nl == nullptr) {
      in.consume(v.size());
      continue;
    }
    // The line end, and a page break after it.
    std::size_t used = static_cast<std::size_t>(e - p) + 1;
    if (used < v.size() && p[used] == '\f') ++used;
    in.consume(used);
    if (used == v.size() && in.peek(1) == "\f") in.consume(1);
    break;
  }
  return room - n;
}

// The rows of read_interleaved_char_mat: labels to `names`, the cells of
// row r stored at row(r) (null: only consumed).
template <typename Row>
void read_interleaved_rows(text_input& in, char_format_type layout,
                           tax_lab_type& names, std::size_t nchar,
                           const cell_options& cells, Row row) {
  const label_format_type labels = label_layout(layout);
  const std::int32_t ntax = names.size();
  std::vector<std::size_t> filled(static_cast<std::size_t>(ntax), 0);
  std::int32_t i = 1;
  std::int64_t block = 1;
  const auto copy =
      detail::kernels()
          .copy_black[static_cast<int>(detail::scan_case(cells.map))];
  auto take = [&](std::int32_t r) {
    std::size_t& f = filled[static_cast<std::size_t>(r - 1)];
    char* dst = row(r);
    const std::size_t k =
        take_line(in, dst != nullptr ? dst + f : nullptr, nchar - f, copy);
    f += k;
    return k;
  };
  try {
    for (; i <= ntax; ++i) {
      names(i) = read_label(in, labels);
      take(i);
    }
    // Rows complete together when the blocks are whole; the last row tells.
    while (filled.back() < nchar || filled.front() < nchar) {
      ++block;
      i = 1;
      if (in.skip_members(whitespace))
        in.read_char();  // fails: the input ended before the rows did
      for (i = 1; i <= ntax; ++i)
        if (take(i) == 0) {
          if (in.exhausted()) in.read_char();  // fails: the input ended
          throw format_error("no sites for the row on its line of the block");
        }
    }
    for (i = 1; i <= ntax; ++i)
      if (filled[static_cast<std::size_t>(i - 1)] != nchar)
        throw format_error(
            "the row has " +
            std::to_string(filled[static_cast<std::size_t>(i - 1)]) +
            " sites where the header says " + std::to_string(nchar));
    if (cells.store)
      for (i = 1; i <= ntax; ++i)
        detail::finish_cells(row(i), nchar, cells.map);
  } catch (error& e) {
    e.add_detail("row " + std::to_string(i) + " of " + std::to_string(ntax) +
                 (block > 1 ? " in block " + std::to_string(block) : ""));
    throw;
  }
}

}  // namespace

void read_interleaved_char_mat(text_input& in, char_format_type layout,
                               char_mat_type& matrix,
                               const cell_options& cells) {
  read_interleaved_rows(in, layout, matrix.labels,
                        static_cast<std::size_t>(matrix.nchar()), cells,
                        [&](std::int32_t r) {
                          return cells.store ? matrix.discr_row(r) : nullptr;
                        });
}

namespace detail {

void read_unreserved_interleaved(text_input& in, char_format_type layout,
                                 tax_lab_type& labels, std::int32_t nchar,
                                 const cell_options& cells, row_store& store) {
  read_interleaved_rows(
      in, layout, labels, static_cast<std::size_t>(nchar), cells,
      [&](std::int32_t r) {
        return cells.store ? store.row(static_cast<std::size_t>(r - 1))
                           : nullptr;
      });
}

}  // namespace detail

}  // namespace zurud::read
