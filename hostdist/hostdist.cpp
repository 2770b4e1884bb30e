// hostdist: distances between hosts derived from distances between their
// associates.
//
//   hostdist RULE IN_LAYOUT OUT_LAYOUT distance_file association_file
//
// RULE is MIN, MEAN, MAX or PBC (mean nearest-neighbour distance both ways).
// The layouts are PHYLIP, EXTENDED_PHYLIP, TAB, NEXUS, NEXUS_ENCLOSED,
// ONE_COLUMN or RAW; every input layout but PHYLIP and TAB reads a count
// line and rows of a label word and values. IN_LAYOUT may also be TABLE: a
// square table with a header line, as R, pandas and spreadsheets write it.
// Either file may be "-" for standard input. The host matrix, one row per host
// in byte order of the labels, goes to standard output. Failures end the
// program as karvo's do: one line on standard error and exit status 1.
#include <charconv>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "zurud/zurud-hostpara.hpp"
#include "zurud/zurud-print.hpp"
#include "zurud/zurud-read.hpp"
#include "zurud/zurud-sets.hpp"
#include "zurud/zurud.hpp"

namespace {

using zurud::dist_format_type;
using zurud::hostpara::dist_func_type;
using zurud::read::text_input;

const std::map<std::string, dist_func_type> rules = {
    {"MIN", dist_func_type::MIN},
    {"MEAN", dist_func_type::MEAN},
    {"MAX", dist_func_type::MAX},
    {"PBC", dist_func_type::PBC},
};

const std::map<std::string, dist_format_type> layouts = {
    {"PHYLIP", dist_format_type::PHYLIP},
    {"EXTENDED_PHYLIP", dist_format_type::EXTENDED_PHYLIP},
    {"TAB", dist_format_type::TAB},
    {"NEXUS", dist_format_type::NEXUS},
    {"NEXUS_ENCLOSED", dist_format_type::NEXUS_ENCLOSED},
    {"ONE_COLUMN", dist_format_type::ONE_COLUMN},
    {"RAW", dist_format_type::RAW},
};

// hostdist's own input layout, beside the seven of the library.
constexpr std::string_view table_word = "TABLE";

bool is_in_layout(std::string_view word) {
  return word == table_word || layouts.contains(std::string(word));
}

std::string usage_text(const std::string& command) {
  return "Usage: " + zurud::printable(command) +
         " RULE IN_LAYOUT OUT_LAYOUT distance_file association_file\n"
         "  RULE: MIN, MEAN, MAX or PBC.\n"
         "  IN_LAYOUT, OUT_LAYOUT: PHYLIP, EXTENDED_PHYLIP, TAB, NEXUS, "
         "NEXUS_ENCLOSED,\n"
         "    ONE_COLUMN or RAW; as input also TABLE (a square table with a "
         "header line,\n"
         "    as R, pandas and spreadsheets write it).\n"
         "  \"-\" reads a file from standard input.";
}

int usage(const std::string& command) {
  zurud::standard_error().put_line(usage_text(command));
  return 1;
}

// The inputs, kept until the end so that a failure can name the file and
// line being read.
struct inputs {
  std::optional<text_input> standard, dist, assoc;
  text_input* reading = nullptr;

  // One reader of standard input serves both "-" arguments, so the
  // associations may follow the matrix in the same stream.
  text_input& open(const std::string& file, std::optional<text_input>& slot) {
    if (file != "-") return slot.emplace(text_input::open(file));
    if (!standard) standard.emplace(text_input::standard_input());
    return *standard;
  }
};

// Notices, one line each on standard error. Between two hosts only the
// distance from the associate of the host that sorts first is read, within a
// host both directions and (under MEAN and MAX) the diagonal: a matrix that
// is not symmetric or has distances of an associate to itself gives results
// that depend on those choices.
void warn(const std::string& text) {
  zurud::standard_error().put_line(
      zurud::printable("hostdist: warning: " + text));
}

std::string number(float v) {
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, v);
  return std::string(text, r.ptr);
}

void dist_notices(const std::string& file, const zurud::dist_mat_type& d,
                  const zurud::tax_lab_type& names) {
  const std::string where = (file == "-" ? "standard input" : file) + ": ";
  const std::int32_t n = d.ntax();
  auto name = [&](std::int32_t i) { return "\"" + names(i) + "\""; };
  for (std::int32_t i = 1; i <= n; ++i)
    if (d.distances(i, i) != 0.0f) {
      warn(where + "the distance of " + name(i) + " to itself is " +
           number(d.distances(i, i)) + ", not 0 (row " + std::to_string(i) +
           "); MEAN and MAX count it within a host");
      break;
    }
  for (std::int32_t i = 1; i <= n; ++i)
    for (std::int32_t j = i + 1; j <= n; ++j)
      if (d.distances(i, j) != d.distances(j, i)) {
        warn(where + "the distances are not symmetric: " + name(i) + " to " +
             name(j) + " is " + number(d.distances(i, j)) + ", " + name(j) +
             " to " + name(i) + " " + number(d.distances(j, i)) + " (rows " +
             std::to_string(i) + " and " + std::to_string(j) +
             "); between two hosts only the distance from the associate of "
             "the host that sorts first is used");
        return;
      }
}

// A table ends after as many rows as it has columns. Unless the association
// pairs follow on the same stream, more text means that it is not square.
void refuse_more_rows(text_input& in, std::int32_t rows) {
  if (in.skip_members(zurud::whitespace)) return;
  const std::string_view text = in.peek_line();
  throw zurud::format_error("more rows than columns: the table is not square",
                            "after row " + std::to_string(rows) + " comes \"" +
                                std::string(text.substr(0, 40)) + "\"");
}

void run(char** argv, inputs& files) {
  const dist_func_type rule = rules.at(argv[1]);
  const bool table = argv[2] == table_word;
  const dist_format_type out_layout = layouts.at(argv[3]);
  const std::string dist_file = argv[4], assoc_file = argv[5];

  text_input& dist_in = files.open(dist_file, files.dist);
  files.reading = &dist_in;
  const zurud::dist_mat_access associates =
      table ? zurud::read::read_dist_table(dist_in)
            : zurud::read::read_dist_file(dist_in, layouts.at(argv[2]));
  if (table && (dist_file != "-" || assoc_file != "-"))
    refuse_more_rows(dist_in, associates->ntax());
  files.reading = nullptr;
  files.dist.reset();

  // PHYLIP labels are padded to ten characters; an association file cannot
  // hold the padding, so associates are matched on the names without it.
  zurud::tax_lab_type names = associates->labels;
  if (!table && layouts.at(argv[2]) == dist_format_type::PHYLIP)
    for (std::int32_t i = names.first(); i <= names.last(); ++i)
      names(i).erase(names(i).find_last_not_of(' ') + 1);
  dist_notices(dist_file, *associates, names);
  zurud::sets::taxon_maps taxa;
  zurud::sets::to_taxon_map(names, taxa);

  text_input& assoc_in = files.open(assoc_file, files.assoc);
  files.reading = &assoc_in;
  const std::int64_t assoc_start = assoc_in.line();
  const zurud::hostpara::assoc_table assoc_table =
      zurud::hostpara::read_assoc_table(assoc_in);
  // No pair leaves no host to write: that is said of the file itself.
  if (assoc_table.size() == 0) {
    zurud::end_of_file_error e =
        dist_file == "-" && assoc_file == "-"
            ? zurud::end_of_file_error(
                  "no association pairs follow the matrix on standard input")
            : zurud::end_of_file_error(
                  "the association file is empty",
                  "it holds no pair of an associate and a host");
    e.set_line(assoc_start);
    throw e;
  }
  files.reading = nullptr;
  files.assoc.reset();

  // The table's names meet the associates' labels (a header row, names with
  // blanks for "_", the orientation of an incidence matrix); hostdist has
  // no option that passes over associates the distances lack.
  zurud::hostpara::assoc_resolve_options options;
  options.pass_unknown_option.clear();
  options.keep_sources = false;
  const zurud::hostpara::resolved_assocs pairs =
      zurud::hostpara::resolve_assocs(assoc_table, &taxa, options);
  for (const std::string& notice : pairs.notices) warn(notice);

  zurud::hostpara::numeric_host_maps hosts;
  zurud::hostpara::to_numeric_host_map(hosts, pairs.assocs, taxa);

  // One row per host; the constructor refuses a count outside 1..5000.
  zurud::dist_mat_type host_matrix(static_cast<std::int32_t>(hosts.size()));
  zurud::hostpara::get_pbc(host_matrix, *associates, hosts, rule);
  zurud::print::print_dist_mat(host_matrix, out_layout);
  zurud::standard_output().flush();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 0 ? argv[0] : "hostdist";
  if (const auto status = zurud::standard_option_status(
          argc, argv, "hostdist", usage_text(command)))
    return *status;
  if (argc == 6 && argv[3] == table_word) {
    zurud::standard_error().put_line(
        "hostdist: TABLE is an input layout only; write TAB for a table with "
        "a header line");
    return usage(command);
  }
  if (argc != 6 || !rules.contains(argv[1]) || !is_in_layout(argv[2]) ||
      !layouts.contains(argv[3]))
    return usage(command);
  zurud::text_output& err = zurud::standard_error();
  // A standard error that refuses writing loses the notices, not the host
  // matrix; the exit status then says that something could not be said.
  err.set_tolerant(true);
  inputs files;
  try {
    run(argv, files);
    err.flush();
    return err.failed() ? 1 : 0;
  } catch (const std::exception& e) {
    const zurud::failure_place place = zurud::read::place_of(files.reading);
    err.put_line(zurud::failure_line("hostdist", e, &place));
  }
  return 1;
}
