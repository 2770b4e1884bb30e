// The karvo driver: options, the run from data file to host matrix, and the
// one failure handler. main() only calls karvo::main.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zurud/zurud-hostpara.hpp"
#include "zurud/zurud-read.hpp"
#include "zurud/zurud.hpp"

namespace karvo {

/// The analyses, in the order of their literals.
enum class assoc_conv_type : std::uint8_t {
  CONSENSUS,
  MODUS,
  ENTROPY,
  FREQUENCIES,
  GROUP_SIZE
};

/// Run settings fixed by the options.
struct settings {
  assoc_conv_type analysis = assoc_conv_type::GROUP_SIZE;
  zurud::char_format_type input_layout =
      zurud::char_format_type::EXTENDED_PHYLIP;
  /// PHYLIP input in interleaved blocks (-i).
  bool interleaved = false;
  zurud::char_format_type output_layout =
      zurud::char_format_type::EXTENDED_PHYLIP;
  std::int32_t min_group_size = 2;
  zurud::char_set valid_states = zurud::nuc_set;
  /// Threads that compute and format host rows (-t); 0 until scanned.
  std::int32_t threads = 0;
  /// Pass over associates that the data file lacks (-u).
  bool pass_unknown = false;
  /// Write the hosts' incidence matrix instead of the host matrix (-A).
  bool incidence = false;
  /// The alphabet of the cells (-a); without it the data file chooses.
  std::optional<zurud::alphabet_type> alphabet;
  /// The consensus threshold (-q), when given.
  std::optional<zurud::hostpara::fraction_type> threshold;
  /// The fewest associates with a state that define a site (-k).
  std::uint32_t min_with_state = 1;
  /// Write the tidy table of every analysis (-T).
  bool tidy = false;
  /// Weigh each pair by the association file's third column (-w).
  bool weights = false;
};

/// The processors this process may run on (at least 1): the default of -t.
std::int32_t available_processors();

/// Scans args[1..] from the last to the first, applying and removing every
/// option (so the leftmost of repeated options wins; -m also removes the
/// argument after it). What remains are the command name and the file
/// arguments. -m and -t read an optionally signed decimal integer from the
/// argument after them (blanks first skipped, anything after it ignored; more
/// than 32 bits: format_error). Without value:
/// constraint_error; a value that is not a number: format_error; below 1:
/// range_error; blanks only: end_of_file_error. threads defaults to
/// available_processors(). -k reads its value as -m does; -q a share (see
/// threshold_value).
settings scan_options(std::vector<std::string>& args);

/// The share of -q: a decimal ("0.75", ".5", "1") of at most nine decimals,
/// or a fraction of two integers ("2/3"), after optional blanks and nothing
/// after it. format_error for anything else; range_error unless above 0
/// and at most 1.
zurud::hostpara::fraction_type threshold_value(const std::string& arg);

/// The analysis the settings choose: analysis, valid states, threshold and
/// minimum of associates with a state.
zurud::hostpara::analysis_type analysis_of(const settings& s);

/// The usage text, line by line.
void print_usage(const std::string& command, zurud::text_output& err);

/// Where a run reads and writes. `standard_input` stands for "-" (the real
/// standard input when null); one reader serves both file arguments.
struct streams {
  zurud::read::text_input* standard_input = nullptr;
  zurud::text_output& out;
  zurud::text_output& err;
  /// Whether host rows may be folded while the data file is read (the
  /// association file read first); false keeps the plain order, for tests
  /// that compare the two.
  bool fold = true;
};

/// The whole run, under the one handler: returns the exit status (0 or 1).
/// args[0] is the command name as invoked.
int run(std::vector<std::string> args, streams io);

/// run() on the process's arguments and standard streams.
int main(int argc, char** argv);

}  // namespace karvo
