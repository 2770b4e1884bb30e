// Helpers shared by the fuzz targets. A target treats every zurud::error as
// an ordinary outcome of hostile input; any other exception escapes to
// libFuzzer, which reports it together with crashes, leaks, UB and hangs.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "zurud/zurud-read.hpp"
#include "zurud/zurud.hpp"

namespace zurud_fuzz {

/// The fuzzer's bytes as text.
inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

/// Largest matrix a target allocates. A header may claim 5000 x 1048576
/// cells; the allocation is only virtual memory, but libFuzzer counts it
/// against its malloc limit and time spent there finds nothing new. An input
/// of a few kilobytes fills no more cells than it has bytes (a gzipped one a
/// few times more), so a larger header only fails at the end of the text,
/// after an allocation that AddressSanitizer serves with mmap and page
/// faults: at a million cells that made some targets ten times slower.
inline constexpr std::int64_t max_cells = 1 << 16;

/// True when some number in `text` is large enough that a matrix of that
/// many rows and columns would pass max_cells. NEXUS dimensions are plain
/// digits, so an input whose numbers all stay below 256 cannot ask for more.
inline bool numbers_too_large(std::string_view text) {
  std::int64_t value = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      value = value * 10 + (c - '0');
      if (value * value > max_cells) return true;
    } else {
      value = 0;
    }
  }
  return false;
}

/// True when `text` is a data file that declares more cells than
/// max_cells: a PHYLIP header, or a NEXUS file with a large number anywhere.
/// Headers that do not parse are not too large.
inline bool header_too_large(std::string_view text) {
  try {
    zurud::read::text_input in(text);
    if (zurud::read::detect_data_format(in) ==
        zurud::read::data_format_type::NEXUS)
      return numbers_too_large(text);
    const auto h = zurud::read::read_header(in);
    return std::int64_t{h.ntax} * h.nchar > max_cells;
  } catch (const zurud::error&) {
    return false;
  }
}

/// Stops the run with a message: an oracle of the target failed.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz oracle failed: %s\n", what);
  std::abort();
}

inline void check(bool ok, const char* what) {
  if (!ok) fail(what);
}

}  // namespace zurud_fuzz
