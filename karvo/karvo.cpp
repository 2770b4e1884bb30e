#include "karvo/karvo.hpp"

#include <algorithm>
#include <limits>
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

// Reads the value of -m: an optionally signed decimal integer at the start
// of the argument; blanks and TABs before it are passed over and whatever
// follows is ignored ("3x" is 3, "1e1" is 1).
std::int32_t minimum_value(const std::string& arg) {
  std::size_t i = arg.find_first_not_of(" \t");
  if (i == std::string::npos)
    throw zurud::end_of_file_error("the value of -m is blank",
                                   "\"" + arg + "\"");
  const bool negative = arg[i] == '-';
  if (arg[i] == '+' || arg[i] == '-') ++i;
  std::int64_t v = 0;
  const std::size_t digits = i;
  for (; i < arg.size() && arg[i] >= '0' && arg[i] <= '9'; ++i)
    v = std::min<std::int64_t>(v * 10 + (arg[i] - '0'), std::int64_t{1} << 40);
  if (i == digits)
    throw zurud::format_error("the value of -m is not a number",
                              "\"" + arg.substr(0, 40) + "\"");
  // As every integer of the input, one that does not fit 32 bits is not a
  // number of the file's format.
  if (v > (negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1))
    throw zurud::format_error("the value of -m does not fit 32 bits",
                              "\"" + arg.substr(0, 40) + "\"");
  if (negative) v = -v;
  if (v < 1)
    throw zurud::range_error("minimum group size " + std::to_string(v) +
                             " below 1");
  return static_cast<std::int32_t>(v);
}

}  // namespace

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
      case 'i': s.interleaved = true; break;
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
      default: known = false; break;
    }
    if (known) args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
  }
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
  zurud::read::data_format_type format;
  {
    text_input& in = data_file == "-"
                         ? standard_input()
                         : files.data.emplace(text_input::open(data_file));
    files.reading = &in;
    // Group sizes need the labels only, so the cells are checked and passed
    // over. Every other analysis needs them as sites (lower case, u as t):
    // that is done while they are read, which saves a pass over the whole
    // matrix.
    zurud::read::data_file_options options;
    options.layout = s.input_layout;
    options.interleaved = s.interleaved;
    options.cells.map = zurud::site_map;
    options.cells.store = s.analysis != assoc_conv_type::GROUP_SIZE;
    chars = zurud::read::read_data_file(in, options, &format);
    files.reading = nullptr;
    files.data.reset();  // closes the data file
  }

  zurud::sets::taxon_maps taxa;
  if (format == zurud::read::data_format_type::PHYLIP &&
      s.input_layout == char_format_type::PHYLIP) {
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
    in.skip_byte_order_mark();
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

  const std::int64_t nchar = chars->nchar();
  const std::int64_t k = s.valid_states.size();
  zurud::matrix_type type = zurud::matrix_type::DISCR;
  std::int64_t columns = nchar;
  switch (s.analysis) {
    case assoc_conv_type::CONSENSUS:
    case assoc_conv_type::MODUS:
      break;
    case assoc_conv_type::ENTROPY:
      type = zurud::matrix_type::QUANT;
      break;
    case assoc_conv_type::FREQUENCIES:
      type = zurud::matrix_type::QUANT;
      columns = nchar * k;
      if (columns > zurud::max_chars)
        throw zurud::range_error(
            "character count " + std::to_string(columns) +
                " outside 1..1048576",
            "frequencies of " + std::to_string(nchar) + " characters need " +
                std::to_string(k) + " columns each");
      break;
    case assoc_conv_type::GROUP_SIZE:
      type = zurud::matrix_type::CNTCH;
      columns = 1;
      break;
  }
  auto host_matrix = std::make_unique<zurud::char_mat_type>(
      static_cast<std::int32_t>(nhosts), static_cast<std::int32_t>(columns),
      type);
  host_matrix->comment =
      "mingrpsize=" + zurud::integer_image(s.min_group_size);
  zurud::hostpara::get_group_chars(*host_matrix, *chars, hosts,
                                   s.valid_states,
                                   s.analysis == assoc_conv_type::MODUS);
  chars.reset();

  zurud::print::print_char_mat(*host_matrix, s.output_layout, io.out);
  host_matrix.reset();
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


}  // namespace

int run(std::vector<std::string> args, streams io) {
  inputs files;
  text_input*& reading = files.reading;
  try {
    return run_stages(args, io, files);
  } catch (const std::exception& e) {
    zurud::failure_place place;
    if (reading != nullptr) place = {reading->name(), reading->line()};
    report(io.err, zurud::failure_line("karvo", e, &place));
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
