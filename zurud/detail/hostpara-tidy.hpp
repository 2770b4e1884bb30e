// The tidy table's text (write_host_matrix with job.tidy): its header, and
// the lines of a stretch of a host's sites from their counts of states. Used
// by the host-matrix writer only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zurud/zurud-hostpara.hpp"

namespace zurud::hostpara::detail {

struct site_rule;
class kernel_scratch;

/// Formats lines of the tidy table; one per thread (it keeps a memo of
/// the text after the site by the counts that give it).
class tidy_formatter {
 public:
  /// For `analysis` (alphabet, valid states, threshold, minimum; the
  /// formula is not read) over groups of at most `max_group` associates.
  tidy_formatter(const analysis_type& analysis, std::int32_t max_group);
  ~tidy_formatter();
  tidy_formatter(const tidy_formatter&) = delete;
  tidy_formatter& operator=(const tidy_formatter&) = delete;

  /// The header line.
  void put_header(text_output& out) const;
  /// What every line of a host starts with: its label (quoted when it holds
  /// a double quote), TAB, its group size, TAB.
  static std::string line_start(std::string_view label, std::size_t size);
  /// The lines of sites first..first+count-1 (0-based) of a host whose
  /// lines start with `start`, from the counts of its states (state s of
  /// site first + j at counts[s * count + j]). constraint_error when a
  /// consensus meets a set of states without a code.
  void put_lines(text_output& out, std::string_view start, std::size_t first,
                 std::size_t count, const std::uint32_t* counts);

 private:
  struct memo_entry;
  // The text after the site ("\tn\tcounts...\tconsensus\tmodal\tentropy\n")
  // of one site's counts, written at `text` (room for tail_'s size); its
  // length.
  std::size_t tail_of(const std::uint32_t* c, char* text);

  std::shared_ptr<const site_rule> consensus_, modal_, entropy_;
  std::unique_ptr<kernel_scratch> scratch_;
  std::unique_ptr<memo_entry[]> memo_;
  std::string header_;
  std::string tail_;  // room for a tail made afresh
  std::vector<polymorphic_cell> poly_;
};

}  // namespace zurud::hostpara::detail
