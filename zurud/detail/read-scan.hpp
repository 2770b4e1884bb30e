// The row scan of the text input: copying or passing over the cells of a
// discrete row and counting line feeds, with the vector loops of the
// processor chosen in one place. Internal to zurud-read; not installed.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <thread>

#include "zurud/zurud.hpp"

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
