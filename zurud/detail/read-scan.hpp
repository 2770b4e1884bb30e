// The row scan of the text input: copying or passing over the cells of a
// discrete row and counting line feeds, with the vector loops of the
// processor chosen in one place. Internal to zurud-read; not installed.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

#include "zurud/zurud-read.hpp"

namespace zurud::read::detail {

/// The scan state: text [p, e) still to scan, n cells still wanted, stored
/// at dst (unused when passing over), and the line feeds passed so far
/// (counted while the text is at hand, so that the text input need not
/// count them again). The 64 bytes after e must be readable (the text
/// input's buffers keep that slack): the vector loops load whole blocks and
/// ignore what lies past e.
struct row_scan {
  const char* p;
  const char* e;
  char* dst;
  std::size_t n;
  std::int64_t lines = 0;
};

/// How cells are stored: as read, through lower_case_map, or through
/// site_map (lower case, and u as t).
enum class cell_case : std::uint8_t { AS_READ, LOWER, SITE };

/// The loops of one processor. copy_black stores the characters that are
/// not whitespace until n are stored or the text is used up; skip_black
/// does the same storing nothing; both add the line feeds they pass to
/// `lines`. count_line_ends counts line feeds in [p, e).
struct scan_kernels {
  void (*copy_black[3])(row_scan&);
  void (*skip_black)(row_scan&);
  std::int64_t (*count_line_ends)(const char* p, const char* e);
};

/// How the scan stores cells mapped by `map`: AS_READ for the identity and
/// for every mapping it does not know, which finish_cells then applies.
cell_case scan_case(const char_mapping& map);
/// Applies `map` to the n cells at dst when scan_case could not.
void finish_cells(char* dst, std::size_t n, const char_mapping& map);

/// The loops for this processor (AVX2, SSE2 or plain C++), as
/// zurud::detail::use_avx2() allows at the moment of the call.
const scan_kernels& kernels();

/// The refusal of text where the first FASTA header should stand, quoting
/// up to 40 characters of it.
format_error text_before_fasta_header(std::string_view text);

/// The cells of a DISCR matrix reserved a row at a time, as the rows are
/// first written, for when the whole block cannot be had at once (a memory
/// limit): a header that declares more than the file holds then fails where
/// the file ends instead of at the reservation, and a file that holds it all
/// needs the whole block only once it is read. Rows are 0-based.
class row_store {
 public:
  row_store(std::size_t ntax, std::size_t nchar) : nchar_(nchar), rows_(ntax) {}
  /// Row i's nchar cells; std::bad_alloc when they cannot be had.
  char* row(std::size_t i) {
    if (!rows_[i]) rows_[i] = std::make_unique_for_overwrite<char[]>(nchar_);
    return rows_[i].get();
  }
  /// The rows in one block of ntax * nchar cells, each row freed once
  /// copied (rows never written stay undefined); std::bad_alloc when the
  /// block cannot be had.
  std::unique_ptr<char[]> block();

 private:
  std::size_t nchar_;
  std::vector<std::unique_ptr<char[]>> rows_;
};

/// The rows of a sequential PHYLIP matrix read as read_char_mat reads them,
/// without a matrix: labels to `labels` (sized to the taxon count), stored
/// cells to `rows`.
void read_unreserved_rows(text_input& in, char_format_type layout,
                          tax_lab_type& labels, std::int32_t nchar,
                          const cell_options& cells, data_notes* notes,
                          row_sink& rows);
/// The same for `ntax` rows whose labels are appended to `labels` as they
/// come (a header may declare more rows than char_mat_type can hold, or
/// than the file holds).
void read_streamed_rows(text_input& in, char_format_type layout,
                        std::vector<std::string>& labels, std::int32_t ntax,
                        std::int32_t nchar, const cell_options& cells,
                        data_notes* notes, row_sink& rows);
/// Reads the next n cells into dst (nothing stored with dst null) where a
/// set of states in braces or parentheses is one cell, stored as "?";
/// whitespace and line ends between cells are passed over. format_error for
/// a closing mark without its opening one or a set left open at the end of
/// its line; end_of_file_error when the input runs out first.
void read_cells_with_sets(text_input& in, char* dst, std::size_t n,
                          const char_mapping& map);
/// The records of a FASTA file handed to `rows` one at a time (their cells
/// stored only with cells.store), labels appended to `labels`: up to 2^31 - 1
/// records of up to max_streamed_chars sites. Returns the number of sites.
std::int32_t read_fasta_rows(text_input& in, const cell_options& cells,
                             std::vector<std::string>& labels, row_sink& rows);
/// The same for interleaved rows, stored cells kept in `store`.
void read_unreserved_interleaved(text_input& in, char_format_type layout,
                                 tax_lab_type& labels, std::int32_t nchar,
                                 const cell_options& cells, row_store& store);

/// Faults in fresh memory [first, first + n) at once on the calling thread:
/// one call instead of a fault a page. Does nothing where the system lacks
/// the call.
void populate_now(void* first, std::size_t n);

/// Faults in fresh memory [first, first + n) on a thread of its own, front
/// to back, while the caller fills it: the kernel's zeroing of the pages
/// then runs on another processor instead of inside the caller's stores.
/// The memory's contents are never touched (MADV_POPULATE_WRITE), so it
/// does no harm wherever the caller's writes overtake it. The destructor
/// stops the thread and waits for it. Does nothing where the system lacks
/// the call or no thread can be had.
class page_populator {
 public:
  page_populator(void* first, std::size_t n);
  ~page_populator();
  page_populator(const page_populator&) = delete;
  page_populator& operator=(const page_populator&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace zurud::read::detail
