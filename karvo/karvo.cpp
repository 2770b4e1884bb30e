#include "karvo/karvo.hpp"

#include <sched.h>

#include <algorithm>
#include <new>
#include <optional>

#include "zurud/zurud-hostpara.hpp"
#include "zurud/zurud-print.hpp"
#include "zurud/zurud-sets.hpp"

namespace karvo {

using zurud::char_format_type;
using zurud::text_output;
using zurud::read::text_input;

namespace {

// Reads the value of -m: an optionally signed integer at the start of the
// argument; blanks before it are passed over and whatever follows is ignored.
std::int32_t minimum_value(const std::string& arg) {
  text_input in(arg, "the value of -m");
  const std::int32_t v = in.read_integer();
  if (v < 1)
    throw zurud::range_error("minimum group size " + std::to_string(v) +
                             " below 1");
  return v;
}

// Reads the value of -t as minimum_value reads that of -m.
std::int32_t threads_value(const std::string& arg) {
  text_input in(arg, "the value of -t");
  const std::int32_t v = in.read_integer();
  if (v < 1)
    throw zurud::range_error("thread count " + std::to_string(v) +
                             " below 1");
  return v;
}

}  // namespace

std::int32_t available_processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return std::max(1, CPU_COUNT(&set));
}

zurud::hostpara::analysis_type analysis_of(const settings& s) {
  using zurud::hostpara::formula_type;
  formula_type f = formula_type::GROUP_SIZE;
  switch (s.analysis) {
    case assoc_conv_type::CONSENSUS: f = formula_type::CONSENSUS; break;
    case assoc_conv_type::MODUS: f = formula_type::MODUS; break;
    case assoc_conv_type::ENTROPY: f = formula_type::ENTROPY; break;
    case assoc_conv_type::FREQUENCIES: f = formula_type::FREQUENCIES; break;
    case assoc_conv_type::GROUP_SIZE: f = formula_type::GROUP_SIZE; break;
  }
  return zurud::hostpara::analysis_type(f, s.valid_states);
}

settings scan_options(std::vector<std::string>& args) {
  settings s;
  // Scan from the last argument to the first so that removing an option does
  // not shift the arguments still to be examined; as a consequence the
  // leftmost repeated option wins.
  for (std::size_t i = args.size(); i-- > 1;) {
    const std::string& a = args[i];
    if (a.size() != 2 || a[0] != '-') continue;
    bool known = true;
    switch (a[1]) {
      case 'c': s.analysis = assoc_conv_type::CONSENSUS; break;
      case 'v': s.analysis = assoc_conv_type::MODUS; break;
      case 'e': s.analysis = assoc_conv_type::ENTROPY; break;
      case 'f': s.analysis = assoc_conv_type::FREQUENCIES; break;
      case 's': s.analysis = assoc_conv_type::GROUP_SIZE; break;
      case 'g': s.valid_states = zurud::gapped_nuc_set; break;
      case 'p': s.input_layout = char_format_type::PHYLIP; break;
      case 'x': s.input_layout = char_format_type::EXTENDED_PHYLIP; break;
      case 'o': s.input_layout = char_format_type::COMMENTED_PHYLIP; break;
      case 'P': s.output_layout = char_format_type::PHYLIP; break;
      case 'X': s.output_layout = char_format_type::EXTENDED_PHYLIP; break;
      case 'N': s.output_layout = char_format_type::NEXUS; break;
      case 'E': s.output_layout = char_format_type::NEXUS_ENCLOSED; break;
      case 'C': s.output_layout = char_format_type::COMMENTED_PHYLIP; break;
      case 'm':
        if (i + 1 >= args.size())
          throw zurud::constraint_error("option -m needs a value",
                                        "-m is the last argument");
        s.min_group_size = minimum_value(args[i + 1]);
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        break;
      case 't':
        if (i + 1 >= args.size())
          throw zurud::constraint_error("option -t needs a value",
                                        "-t is the last argument");
        s.threads = threads_value(args[i + 1]);
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        break;
      default: known = false; break;
    }
    if (known) args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
  }
  if (s.threads == 0) s.threads = available_processors();
  return s;
}

void print_usage(const std::string& command, text_output& err) {
  err.put_line(command +
               " computes host character data from associate character data.");
  err.put_line("");
  err.put_line("Usage: " + command + " [options] data_file association_file");
  err.put_line("");
  static constexpr const char* lines[] = {
      "Options:",
      "  -c  Compute character consensi.",
      "  -e  Compute group-wise entropy values.",
      "  -f  Compute character frequencies.",
      "  -g  Treat gaps as valid characters.",
      "  -m  Minimum # associates per host (default is 2).",
      "  -o  Input is in commented PHYLIP format.",
      "  -p  Input is in normal PHYLIP format.",
      "  -s  Compute just group sizes.",
      "  -t  Number of threads (default: every processor available).",
      "  -v  Compute character consensi of modal values only.",
      "  -x  Input is in extended PHYLIP format (default).",
      "  -C  Output is in commented PHYLIP format.",
      "  -E  Output is in NEXUS format with labels enclosed in \"'\".",
      "  -N  Output is in NEXUS format with labels cleaned.",
      "  -P  Output is in PHYLIP format.",
      "  -X  Output is in extended PHYLIP format (default).",
      "",
      ("Undefined values are printed as \"-99\" or \"?\", depending on output "
       "character type."),
      "",
      "karvo is part of the Zurud library; report problems to its maintainers.",
      "",
  };
  for (const char* line : lines) err.put_line(line);
}

namespace {

// The inputs of a run. They outlive the stages so that the handler can still
// name the file and line a failure happened in.
struct inputs {
  std::optional<text_input> standard, data, assoc;
  text_input* reading = nullptr;
};

// The run proper: every object it makes is owned here and released by
// unwinding when a stage fails.
int run_stages(std::vector<std::string>& args, streams& io, inputs& files) {
  const settings s = scan_options(args);
  if (args.size() != 3) {
    print_usage(args.empty() ? std::string("karvo") : args[0], io.err);
    return 1;
  }
  const std::string& data_file = args[1];
  const std::string& assoc_file = args[2];

  // One reader of standard input serves both "-" arguments, so the
  // associations continue where the matrix rows end.
  auto standard_input = [&]() -> text_input& {
    if (io.standard_input != nullptr) return *io.standard_input;
    if (!files.standard) files.standard.emplace(text_input::standard_input());
    return *files.standard;
  };

  zurud::char_mat_access chars;
  {
    text_input& in = data_file == "-"
                         ? standard_input()
                         : files.data.emplace(text_input::open(data_file));
    files.reading = &in;
    const auto h = zurud::read::read_header(in);
    chars = std::make_unique<zurud::char_mat_type>(h.ntax, h.nchar,
                                                   zurud::matrix_type::DISCR);
    // Group sizes need the labels only, so the cells are checked and passed
    // over. Every other analysis needs them lower-cased: that is done while
    // they are read, which leaves the cells as convert_chars would after the
    // filter and saves a pass over the whole matrix.
    if (s.analysis == assoc_conv_type::GROUP_SIZE)
      zurud::read::skim_char_mat(in, s.input_layout, *chars);
    else
      zurud::read::read_char_mat(in, s.input_layout, *chars,
                                 zurud::lower_case_map);
    files.reading = nullptr;
    files.data.reset();  // closes the data file
  }

  zurud::sets::taxon_maps taxa;
  if (s.input_layout == char_format_type::PHYLIP) {
    // PHYLIP names are padded to ten characters; an association file cannot
    // hold the padding, so associates are matched on the names without it.
    zurud::tax_lab_type names = chars->labels;
    for (std::int32_t i = names.first(); i <= names.last(); ++i) {
      std::string& n = names(i);
      n.erase(n.find_last_not_of(' ') + 1);
    }
    zurud::sets::to_taxon_map(names, taxa);
  } else {
    zurud::sets::to_taxon_map(chars->labels, taxa);
  }

  zurud::hostpara::ordered_assocs assocs;
  {
    text_input& in = assoc_file == "-"
                         ? standard_input()
                         : files.assoc.emplace(text_input::open(assoc_file));
    files.reading = &in;
    zurud::hostpara::read_assoc(in, assocs);
    files.reading = nullptr;
    files.assoc.reset();
  }

  zurud::hostpara::numeric_host_maps hosts;
  zurud::hostpara::to_numeric_host_map(hosts, assocs, taxa, io.err);
  assocs.clear();
  taxa.clear();

  zurud::hostpara::filter(hosts, s.min_group_size, io.err);

  const auto nhosts = hosts.size();
  if (nhosts < 1)
    throw zurud::range_error(
        "host count 0 outside 1..5000",
        "no host has at least " + std::to_string(s.min_group_size) +
            " associates");
  if (nhosts > static_cast<std::size_t>(zurud::max_taxa))
    throw zurud::range_error("host count " + std::to_string(nhosts) +
                             " outside 1..5000");

  // The frequencies' width is checked before anything is written.
  const zurud::hostpara::analysis_type analysis = analysis_of(s);
  analysis.columns(chars->nchar());
  write_host_matrix({*chars, hosts, analysis,
                     "mingrpsize=" + zurud::integer_image(s.min_group_size),
                     s.output_layout},
                    s.threads, io.out);
  chars.reset();
  io.out.flush();
  return 0;
}

// Standard error may refuse writing too (a full disk, a closed pipe); the
// exit status is then the only report left, and it must still be 1.
void report(text_output& err, const std::string& line) noexcept {
  try {
    err.put_line(line);
  } catch (...) {
  }
}

std::string location(text_input* in) {
  if (in == nullptr) return {};
  return " (" + in->name() + ", line " + std::to_string(in->line()) + ")";
}

}  // namespace

int run(std::vector<std::string> args, streams io) {
  inputs files;
  text_input*& reading = files.reading;
  try {
    return run_stages(args, io, files);
  } catch (const zurud::open_error&) {
    report(io.err, "Invalid filename.");
  } catch (const zurud::format_error&) {
    report(io.err, "Wrong file format.");
  } catch (const zurud::error& e) {
    report(io.err, "karvo: " + zurud::read::describe(e, reading));
  } catch (const std::bad_alloc&) {
    report(io.err, "karvo: out of memory" + location(reading));
  } catch (const std::exception& e) {
    report(io.err, std::string("karvo: unexpected failure: ") + e.what() +
                       location(reading));
  }
  try {
    io.err.flush();
  } catch (...) {
  }
  return 1;
}

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  if (args.empty()) args.emplace_back("karvo");
  return run(std::move(args),
             streams{nullptr, zurud::standard_output(), zurud::standard_error()});
}

}  // namespace karvo
