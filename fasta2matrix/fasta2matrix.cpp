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
#include <vector>

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
  return "Usage: " + zurud::printable(command) +
         " LAYOUT fasta_file\n"
         "  LAYOUT: PHYLIP, EXTENDED_PHYLIP, NEXUS, NEXUS_ENCLOSED or "
         "COMMENTED_PHYLIP; \"-\" reads standard input.";
}

int usage(const std::string& command) {
  zurud::standard_error().put_line(usage_text(command));
  return 1;
}

// Sequences that the layout writes with one label: karvo, like most readers
// of a matrix, refuses a label twice, so the file would be of no use there.
void label_notices(const zurud::sequence_vecs& sequences,
                   zurud::char_format_type layout) {
  std::map<std::string, std::vector<std::int32_t>> written;
  for (std::int32_t i = 1; i <= sequences.size(); ++i) {
    const std::string& label = sequences(i).label;
    std::string text;
    {
      zurud::text_output out(text);
      zurud::print::print_label(label, layout, label.size() + 2, out);
    }
    text.erase(text.find_last_not_of(' ') + 1);
    written[text].push_back(i);
  }
  int shown = 0;
  for (const auto& [text, rows] : written) {
    if (rows.size() < 2) continue;
    if (++shown > 10) break;
    bool same = true;
    for (const std::int32_t i : rows)
      same = same && sequences(i).label == sequences(rows[0]).label;
    std::string list;
    for (std::size_t k = 0; k < rows.size(); ++k) {
      if (k > 0) list += k + 1 == rows.size() ? " and " : ", ";
      list += std::to_string(rows[k]);
      if (!same) list += " (\"" + sequences(rows[k]).label + "\")";
    }
    const char* both = rows.size() == 2 ? "both" : "all";
    zurud::standard_error().put_line(zurud::printable(
        "fasta2matrix: warning: sequences " + list + " are " + both +
        (same ? " labelled \"" + sequences(rows[0]).label
              : " written as \"" + text) +
        "\"; karvo and most readers of a matrix refuse a label twice"));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 0 ? argv[0] : "fasta2matrix";
  if (const auto status = zurud::standard_option_status(
          argc, argv, "fasta2matrix", usage_text(command)))
    return *status;
  if (argc != 3 || !layouts.contains(argv[1])) return usage(command);
  zurud::text_output& err = zurud::standard_error();
  // A standard error that refuses writing loses the notices, not the
  // matrix; the exit status then says that something could not be said.
  err.set_tolerant(true);
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
    const zurud::char_format_type layout = layouts.at(argv[1]);
    zurud::print::print_char_mat(sequences, layout);
    zurud::standard_output().flush();
    label_notices(sequences, layout);
    err.flush();
    return err.failed() ? 1 : 0;
  } catch (const std::exception& e) {
    const zurud::failure_place place =
        zurud::read::place_of(in ? &*in : nullptr);
    err.put_line(zurud::failure_line("fasta2matrix", e, &place));
  }
  return 1;
}
