// fasta2matrix: converts a FASTA alignment into a character matrix.
//
//   fasta2matrix LAYOUT fasta_file
//
// LAYOUT is PHYLIP, EXTENDED_PHYLIP, NEXUS, NEXUS_ENCLOSED or COMMENTED_PHYLIP;
// "-" reads the alignment from standard input. The matrix goes to standard
// output. Failures end the program as karvo's do: one line on standard error
// and exit status 1.
#include <map>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "zurud/zurud-print.hpp"
#include "zurud/zurud-read.hpp"
#include "zurud/zurud.hpp"

namespace {

const std::map<std::string, zurud::char_format_type> layouts = {
    {"PHYLIP", zurud::char_format_type::PHYLIP},
    {"EXTENDED_PHYLIP", zurud::char_format_type::EXTENDED_PHYLIP},
    {"NEXUS", zurud::char_format_type::NEXUS},
    {"NEXUS_ENCLOSED", zurud::char_format_type::NEXUS_ENCLOSED},
    {"COMMENTED_PHYLIP", zurud::char_format_type::COMMENTED_PHYLIP},
};

std::string usage_text(const std::string& command) {
  return "Usage: " + command +
         " LAYOUT fasta_file\n"
         "  LAYOUT: PHYLIP, EXTENDED_PHYLIP, NEXUS, NEXUS_ENCLOSED or "
         "COMMENTED_PHYLIP; \"-\" reads standard input.";
}

int usage(const std::string& command) {
  zurud::standard_error().put_line(usage_text(command));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 0 ? argv[0] : "fasta2matrix";
  if (const auto status = zurud::standard_option_status(
          argc, argv, "fasta2matrix", usage_text(command)))
    return *status;
  if (argc != 3 || !layouts.contains(argv[1])) return usage(command);
  zurud::text_output& err = zurud::standard_error();
  std::optional<zurud::read::text_input> in;
  try {
    const std::string file = argv[2];
    in.emplace(file == "-" ? zurud::read::text_input::standard_input()
                           : zurud::read::text_input::open(file));
    // Text before the first header would be joined onto the first
    // sequence: refused, as karvo refuses it.
    zurud::read::skip_to_fasta_header(*in);
    zurud::sequence_vecs sequences;
    zurud::read::read_fasta(*in, sequences);
    in.reset();  // reading is over: later failures have no input line
    zurud::print::print_char_mat(sequences, layouts.at(argv[1]));
    zurud::standard_output().flush();
    return 0;
  } catch (const std::exception& e) {
    const zurud::failure_place place =
        zurud::read::place_of(in ? &*in : nullptr);
    err.put_line(zurud::failure_line("fasta2matrix", e, &place));
  }
  return 1;
}
