#include "karvo/karvo.hpp"

#include <sched.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>
#include <exception>
#include <limits>
#include <new>
#include <map>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "zurud/zurud-hostpara.hpp"
#include "zurud/zurud-print.hpp"
#include "zurud/zurud-sets.hpp"

namespace karvo {

using zurud::char_format_type;
using zurud::text_output;
using zurud::read::text_input;

namespace {

// Reads the value of an option (-m, -t): an optionally signed decimal
// integer at the start of the argument; blanks and TABs before it are passed
// over and whatever follows is ignored ("3x" is 3, "1e1" is 1).
std::int64_t option_value(const std::string& arg, const char* option) {
  const std::string value = std::string("the value of ") + option;
  std::size_t i = arg.find_first_not_of(" \t");
  if (i == std::string::npos)
    throw zurud::end_of_file_error(value + " is blank", "\"" + arg + "\"");
  const bool negative = arg[i] == '-';
  if (arg[i] == '+' || arg[i] == '-') ++i;
  std::int64_t v = 0;
  const std::size_t digits = i;
  for (; i < arg.size() && arg[i] >= '0' && arg[i] <= '9'; ++i)
    v = std::min<std::int64_t>(v * 10 + (arg[i] - '0'), std::int64_t{1} << 40);
  if (i == digits)
    throw zurud::format_error(value + " is not a number",
                              "\"" + arg.substr(0, 40) + "\"");
  // As every integer of the input, one that does not fit 32 bits is not a
  // number of the file's format.
  if (v > (negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1))
    throw zurud::format_error(value + " does not fit 32 bits",
                              "\"" + arg.substr(0, 40) + "\"");
  return negative ? -v : v;
}

std::int32_t minimum_value(const std::string& arg) {
  const std::int64_t v = option_value(arg, "-m");
  if (v < 1)
    throw zurud::range_error("minimum group size " + std::to_string(v) +
                             " below 1");
  return static_cast<std::int32_t>(v);
}

std::uint32_t min_with_state_value(const std::string& arg) {
  const std::int64_t v = option_value(arg, "-k");
  if (v < 1)
    throw zurud::range_error("minimum of associates with a state " +
                             std::to_string(v) + " below 1");
  return static_cast<std::uint32_t>(v);
}

std::int32_t threads_value(const std::string& arg) {
  const std::int64_t v = option_value(arg, "-t");
  if (v < 1)
    throw zurud::range_error("thread count " + std::to_string(v) + " below 1");
  return static_cast<std::int32_t>(v);
}

}  // namespace

zurud::hostpara::fraction_type threshold_value(const std::string& arg) {
  const auto bad = [&](const std::string& why) {
    return zurud::format_error("the value of -q " + why,
                               "\"" + arg.substr(0, 40) + "\"");
  };
  std::size_t i = arg.find_first_not_of(" \t");
  if (i == std::string::npos)
    throw zurud::end_of_file_error("the value of -q is blank",
                                   "\"" + arg + "\"");
  // Digits into v (at most 18 of them), their count into n.
  const auto digits = [&](std::uint64_t& v, std::size_t& n) {
    for (n = 0; i < arg.size() && arg[i] >= '0' && arg[i] <= '9'; ++i, ++n) {
      if (n == 18) throw bad("has too many digits");
      v = v * 10 + static_cast<std::uint64_t>(arg[i] - '0');
    }
  };
  zurud::hostpara::fraction_type share{0, 1};
  std::size_t whole = 0, decimals = 0;
  digits(share.num, whole);
  if (i < arg.size() && arg[i] == '/') {
    ++i;
    share.den = 0;
    std::size_t below = 0;
    digits(share.den, below);
    if (whole == 0 || below == 0) throw bad("is not a share");
    if (share.den == 0) throw bad("divides by zero");
  } else if (i < arg.size() && arg[i] == '.') {
    ++i;
    std::uint64_t fraction = 0;
    digits(fraction, decimals);
    if (decimals > 9)
      throw bad("has more than nine decimals (1/3 is exact)");
    if (whole + decimals == 0) throw bad("is not a share");
    for (std::size_t d = 0; d < decimals; ++d) {
      share.num *= 10;
      share.den *= 10;
    }
    share.num += fraction;
  } else if (whole == 0) {
    throw bad("is not a share");
  }
  if (i != arg.size()) throw bad("is not a share");
  if (share.num == 0 || share.num > share.den)
    throw zurud::range_error(
        "consensus threshold " + arg.substr(0, 40) + " outside 0..1",
        "a share above 0 and at most 1");
  // Kept as given, below 2^32 both (the library's bound).
  std::uint64_t a = share.num, b = share.den;
  while (b != 0) a = std::exchange(b, a % b);
  share.num /= a;
  share.den /= a;
  if (share.den >> 32 != 0) throw bad("has too many digits");
  return share;
}

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
    case assoc_conv_type::CONSENSUS:
      f = formula_type::CONSENSUS;
      break;
    case assoc_conv_type::MODUS:
      f = formula_type::MODUS;
      break;
    case assoc_conv_type::ENTROPY:
      f = formula_type::ENTROPY;
      break;
    case assoc_conv_type::FREQUENCIES:
      f = formula_type::FREQUENCIES;
      break;
    case assoc_conv_type::GROUP_SIZE:
      f = formula_type::GROUP_SIZE;
      break;
  }
  zurud::hostpara::analysis_type a =
      s.alphabet ? zurud::hostpara::analysis_type(
                       f, *s.alphabet,
                       s.valid_states.contains(zurud::alphabet_type::gap))
                 : zurud::hostpara::analysis_type(f, s.valid_states);
  if (s.threshold) a.with_threshold(*s.threshold);
  a.with_minimum(s.min_with_state);
  return a;
}

// The options that take no value, as scan_options knows them: the hint for
// an argument such as -cg splits it into these.
constexpr std::string_view flag_letters = "cefgiopsuvwxACENPTX";

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
      case 'u': s.pass_unknown = true; break;
      case 'A': s.incidence = true; break;
      case 'T': s.tidy = true; break;
      case 'w': s.weights = true; break;
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
      case 'a': {
        if (i + 1 >= args.size())
          throw zurud::constraint_error("option -a needs a value",
                                        "-a is the last argument");
        s.alphabet = zurud::alphabet_type::of_name(args[i + 1]);
        if (!s.alphabet)
          throw zurud::constraint_error(
              "the value of -a is not an alphabet",
              "\"" + args[i + 1].substr(0, 40) +
                  "\": give dna, protein or standard");
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        break;
      }
      case 't':
        if (i + 1 >= args.size())
          throw zurud::constraint_error("option -t needs a value",
                                        "-t is the last argument");
        s.threads = threads_value(args[i + 1]);
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        break;
      case 'q':
        if (i + 1 >= args.size())
          throw zurud::constraint_error("option -q needs a value",
                                        "-q is the last argument");
        s.threshold = threshold_value(args[i + 1]);
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        break;
      case 'k':
        if (i + 1 >= args.size())
          throw zurud::constraint_error("option -k needs a value",
                                        "-k is the last argument");
        s.min_with_state = min_with_state_value(args[i + 1]);
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        break;
      default: known = false; break;
    }
    if (known) args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
  }
  if (s.threads == 0) s.threads = available_processors();
  return s;
}

// The usage text, its last line end left to put_line. The command name is
// whatever started the program (argv[0]), so it is made printable as any
// other text from outside.
std::string usage_text(const std::string& invoked) {
  const std::string command = zurud::printable(invoked);
  std::string text =
      command + " computes host character data from associate character data.\n"
      "\nUsage: " + command + " [options] data_file association_file\n\n";
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
  };
  for (const char* line : lines) text.append(line).append("\n");
  return text;
}

void print_usage(const std::string& command, text_output& err) {
  err.put_line(usage_text(command));
}

namespace {

// ---------------------------------------------------------------------------
// Notices: one line each on standard error, "karvo: warning: " first, for
// inputs that are read without failing but not as their writer may have
// meant. They change neither the host matrix nor the exit status.

void warn(text_output& err, const std::string& text) {
  err.put_line(zurud::printable("karvo: warning: " + text));
}

// "1 row", "2 rows".
std::string count_of(std::int64_t n, const std::string& noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string where(const std::string& file, std::int64_t line) {
  return (file == "-" ? std::string("standard input") : file) + ", line " +
         std::to_string(line) + ": ";
}

// What most likely left lines after the rows: an interleaved file read as
// sequential rows, or PHYLIP names read as ten characters that are not
// padded to ten. With -i the blocks were read as such and the header is
// what disagrees with the file.
std::string extra_lines_hint(const zurud::read::data_notes& n,
                             const settings& s) {
  if (n.label_over_line_end != 0)
    return "; the ten-character label of row " +
           std::to_string(n.label_over_line_end) +
           " runs over a line end: if the names are not padded to ten "
           "characters, read the file with -x";
  if (s.interleaved)
    return "; the header may declare fewer rows or sites than the file holds";
  return "; if the file is interleaved, read it with -i";
}

void data_notices(text_output& err, const std::string& file,
                  const zurud::read::data_notes& n, std::int32_t ntax,
                  const settings& s) {
  if (n.trailing_rows > 0)
    warn(err, where(file, n.trailing_line) + "text after a row's last site "
              "was passed over (\"" + n.trailing_text + "\")" +
              (n.trailing_rows > 1
                   ? ", and after the last site of " +
                         count_of(n.trailing_rows - 1, "more row")
                   : ""));
  if (n.extra_lines > 0)
    warn(err, where(file, n.extra_line) + count_of(n.extra_lines, "line") +
              " after the " + count_of(ntax, "row") + " the header declares " +
              (n.extra_lines == 1 ? "was" : "were") + " passed over" +
              extra_lines_hint(n, s));
}

void assoc_notices(text_output& err, const std::string& file,
                   const zurud::hostpara::assoc_notes& n) {
  if (n.extra_words_lines == 0) return;
  warn(err, where(file, n.extra_words_line) +
                "only the first two words of a line are read (associate, "
                "host): \"" + n.extra_words + "\" was passed over" +
                (n.extra_words_lines > 1
                     ? ", as on " + count_of(n.extra_words_lines - 1,
                                             "more line")
                     : ""));
}

// How the cells' alphabet was chosen, when that is worth a word: a data
// file that chose protein or standard characters (by its NEXUS DATATYPE or
// by most of its cells), or cells that look otherwise than -a says.
void alphabet_notice(text_output& err, const std::string& file,
                     const zurud::hostpara::alphabet_choice& c,
                     const settings& s) {
  using by = zurud::hostpara::alphabet_choice::by_type;
  using zurud::alphabet_kind_type;
  const std::string name = file == "-" ? std::string("standard input") : file;
  const auto read_as = [](alphabet_kind_type k) -> std::string {
    switch (k) {
      case alphabet_kind_type::PROTEIN: return "protein";
      case alphabet_kind_type::STANDARD: return "standard characters";
      case alphabet_kind_type::DNA: break;
    }
    return "nucleotides";
  };
  const std::string foreign =
      std::to_string(c.foreign_percent) +
      " % of the sites that are not missing are letters outside the "
      "nucleotide codes";
  const std::string digits = std::to_string(c.digit_percent) +
                             " % of the sites that are not missing are digits";
  if (c.by == by::DATATYPE) {
    if (c.kind != alphabet_kind_type::DNA)
      warn(err, name + ": read as " + read_as(c.kind) +
                    ", as its DATATYPE says (-a chooses otherwise)");
    return;
  }
  if (c.by == by::CONTENT) {
    if (c.kind == alphabet_kind_type::PROTEIN)
      warn(err, name + ": " + foreign + ": read as protein (-a dna or "
                "-a standard reads them otherwise)");
    else if (c.kind == alphabet_kind_type::STANDARD)
      warn(err, name + ": " + digits + ": read as standard characters 0-9 "
                "(-a dna or -a protein reads them otherwise)");
    return;
  }
  // Given by -a: the cells may say otherwise.
  if (c.foreign_percent < 0 || !s.alphabet) return;
  const alphabet_kind_type looks =
      2 * c.digit_percent > 100   ? alphabet_kind_type::STANDARD
      : 2 * c.foreign_percent > 100 ? alphabet_kind_type::PROTEIN
                                    : alphabet_kind_type::DNA;
  if (looks == c.kind) return;
  const std::string option = "-a " + std::string(s.alphabet->name());
  if (c.kind == alphabet_kind_type::DNA)
    warn(err, name + ": " + foreign +
                  " (a protein alignment?); read as nucleotides, as " +
                  option + " says, they count as missing data");
  else
    warn(err, name + ": " + (looks == alphabet_kind_type::STANDARD
                                 ? digits
                                 : looks == alphabet_kind_type::PROTEIN
                                       ? foreign
                                       : "most sites are nucleotide letters") +
                  "; read as " + read_as(c.kind) + ", as " + option + " says");
}

const char* layout_option(char_format_type layout) {
  switch (layout) {
    case char_format_type::PHYLIP: return "-P";
    case char_format_type::EXTENDED_PHYLIP: return "-X";
    case char_format_type::NEXUS: return "-N";
    case char_format_type::NEXUS_ENCLOSED: return "-E";
    case char_format_type::COMMENTED_PHYLIP: return "-C";
  }
  return "";
}

// Host labels that the output layout writes alike (cut to ten characters,
// cleaned of marks) or as nothing: the next program then refuses the file,
// merges the hosts or reads fewer of them.
void label_notices(text_output& err,
                   const zurud::hostpara::numeric_host_maps& hosts,
                   char_format_type layout) {
  std::map<std::string, std::vector<const std::string*>> written;
  for (const auto& [label, group] : hosts) {
    std::string text;
    {
      text_output out(text);
      zurud::print::print_label(label, layout, label.size() + 2, out);
      out.flush();
    }
    text.erase(text.find_last_not_of(' ') + 1);
    if (text.empty() || text == "''") text.clear();
    written[text].push_back(&label);
  }
  const std::string option = layout_option(layout);
  const std::string advice = layout == char_format_type::NEXUS_ENCLOSED
                                 ? "; rename them"
                                 : "; -X or -E keeps them apart";
  int shown = 0;
  for (const auto& [text, labels] : written) {
    if (!text.empty() && labels.size() < 2) continue;
    if (++shown > 10) break;
    std::string names;
    for (const std::string* l : labels)
      names += (names.empty() ? "\"" : ", \"") + *l + "\"";
    if (text.empty())
      warn(err, "host " + names + " is written with " + option +
                    " as an empty label" + advice);
    else
      warn(err, "hosts " + names + " are all written with " + option +
                    " as \"" + text + "\"" + advice);
  }
}

// The arguments "a", "b" and "c" as the text "a, b, c".
std::string listed(const std::vector<std::string>& files, std::size_t first) {
  std::string text;
  for (std::size_t i = first; i < files.size(); ++i)
    text += (text.empty() ? "" : ", ") + files[i];
  return text;
}

// What was wrong with a command line that did not leave two file arguments,
// for the line before the usage text. `given` is the command line as typed,
// `files` what is left of it once the options are removed.
std::string argument_hint(const std::vector<std::string>& given,
                          const std::vector<std::string>& files) {
  for (std::size_t i = 1; i < files.size(); ++i) {
    const std::string& a = files[i];
    if (a.size() < 2 || a[0] != '-') continue;
    if (a == "--help" || a == "--version")
      return a + " is answered only as the one argument: karvo " + a;
    if (a[1] == '-') return "unknown option " + a;
    if ((a[1] == 'm' || a[1] == 't' || a[1] == 'a' || a[1] == 'q' ||
         a[1] == 'k') &&
        a.size() > 2)
      return "a value stands apart from its option: " + a.substr(0, 2) + " " +
             a.substr(2);
    if (a.size() == 2) return "unknown option " + a;
    std::string apart;
    for (std::size_t k = 1; k < a.size(); ++k) {
      if (flag_letters.find(a[k]) == std::string_view::npos) {
        apart.clear();
        break;
      }
      apart += (k == 1 ? "-" : " -") + a.substr(k, 1);
    }
    return apart.empty() ? "unknown option " + a
                         : "give each option on its own: " + apart;
  }
  // "-o out.phy" as other programs write an output file: -o is the
  // commented PHYLIP input here, and the matrix goes to standard output.
  if (files.size() == 4)
    for (std::size_t i = 1; i + 1 < given.size(); ++i)
      if (given[i] == "-o" &&
          std::find(files.begin() + 1, files.end(), given[i + 1]) !=
              files.end()) {
        std::string command = "karvo";
        for (std::size_t k = 1; k < given.size(); ++k)
          if (k != i && k != i + 1) command += " " + given[k];
        return "-o says that the input is in commented PHYLIP format; the "
               "host matrix goes to standard output: " +
               command + " > " + given[i + 1];
      }
  if (files.size() == 1)
    return "the data file and the association file are missing";
  if (files.size() == 2)
    return "one file argument (" + files[1] +
           "): the association file is missing";
  return std::to_string(files.size() - 1) + " file arguments (" +
         listed(files, 1) +
         "): give two, the data file and the association file";
}

// ---------------------------------------------------------------------------
// Progress on a terminal: while the data file is read, once a second has
// passed, one line on standard error that says how far the reading has come
// and is rewritten in place, then erased. Nothing of it when standard error
// is a file or a pipe, and never a change to standard output.

// "1.2 GB", "340 MB", "12 kB", "512 B".
std::string size_text(std::int64_t bytes) {
  static constexpr const char* units[] = {"B", "kB", "MB", "GB", "TB"};
  double v = static_cast<double>(bytes);
  int u = 0;
  while (v >= 1000 && u < 4) v /= 1000, ++u;
  char text[32];
  std::snprintf(text, sizeof text, u == 0 || v >= 100 ? "%.0f %s" : "%.1f %s",
                v, units[u]);
  return text;
}

class progress_line {
 public:
  progress_line(const zurud::read::read_progress& progress, std::string file)
      : progress_(progress), file_(std::move(file)) {
    if (::isatty(2) != 1) return;
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      // No thread, no display: the run is the same.
    }
  }
  ~progress_line() { stop(); }
  progress_line(const progress_line&) = delete;
  progress_line& operator=(const progress_line&) = delete;

  // Stops the display and erases its line.
  void stop() {
    if (!thread_.joinable()) return;
    {
      const std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

 private:
  void run() {
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    bool shown = false;
    std::unique_lock lock(mutex_);
    // The first line after a second; then five a second.
    auto next = start + std::chrono::seconds(1);
    while (!wake_.wait_until(lock, next, [&] { return stop_; })) {
      const double seconds =
          std::chrono::duration<double>(clock::now() - start).count();
      write_line(text(seconds));
      shown = true;
      next = clock::now() + std::chrono::milliseconds(200);
    }
    if (shown) write_line("");
  }

  std::string text(double seconds) const {
    const std::int64_t read = progress_.text.load(std::memory_order_relaxed);
    const std::int64_t at = progress_.file.load(std::memory_order_relaxed);
    const std::int64_t size =
        progress_.file_size.load(std::memory_order_relaxed);
    const std::int64_t rows = progress_.rows.load(std::memory_order_relaxed);
    std::string t = "karvo: reading " +
                    (file_ == "-" ? std::string("standard input") : file_) +
                    ": " + size_text(read);
    if (size > 0 && at >= 0)
      t += " (" + std::to_string(std::min<std::int64_t>(100, 100 * at / size)) +
           " % of " + size_text(size) + ")";
    if (rows > 0) t += ", " + std::to_string(rows) + " rows";
    if (seconds > 0)
      t += ", " + size_text(static_cast<std::int64_t>(
                      static_cast<double>(read) / seconds)) + "/s";
    return t;
  }

  // The line in place of the last: back to its start, the text, the rest
  // of the line cleared. Written whole, past the buffered standard error
  // (which holds no partial line while the data file is read).
  static void write_line(const std::string& text) {
    const std::string line =
        "\r" + zurud::printable(text).substr(0, 200) + "\033[K";
    for (std::size_t done = 0; done < line.size();) {
      const ssize_t k = ::write(2, line.data() + done, line.size() - done);
      if (k <= 0) return;
      done += static_cast<std::size_t>(k);
    }
  }

  const zurud::read::read_progress& progress_;
  std::string file_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

// The run itself: options, then the stages of the library's run, with the
// notices said between them.
int run_stages(std::vector<std::string>& args, streams& io,
               std::optional<zurud::hostpara::host_run>& run) {
  // --version and --help count only as the one argument: anywhere else they
  // stay words of the command line, as before.
  if (args.size() == 2 &&
      zurud::answer_standard_option(args[1], "karvo", usage_text(args[0]),
                                    io.out))
    return 0;
  const std::vector<std::string> given = args;
  const settings s = scan_options(args);
  if (args.size() != 3) {
    // A bare command asks for the usage text; anything else was a try that
    // went wrong, and one line says what.
    if (given.size() > 1)
      io.err.put_line(
          zurud::printable("karvo: " + argument_hint(given, args)));
    print_usage(args.empty() ? std::string("karvo") : args[0], io.err);
    return 1;
  }
  // A threshold is of a consensus: alone it would change nothing.
  if (s.threshold && s.analysis != assoc_conv_type::CONSENSUS && !s.tidy) {
    io.err.put_line(
        "karvo: -q sets the share of a consensus: give it with -c (or -T)");
    print_usage(args[0], io.err);
    return 1;
  }
  const std::string& data_file = args[1];
  const std::string& assoc_file = args[2];

  zurud::hostpara::run_options options;
  options.analysis = analysis_of(s);
  options.input_layout = s.input_layout;
  options.interleaved = s.interleaved;
  options.output_layout = s.output_layout;
  options.min_group_size = s.min_group_size;
  options.threads = s.threads;
  options.fold = io.fold;
  options.assoc.pass_unknown = s.pass_unknown;
  options.choose_alphabet = !s.alphabet;
  options.tidy_table = s.tidy && !s.incidence;
  options.weights = s.weights;
  // The incidence matrix needs the labels and the groups only.
  if (s.incidence)
    options.analysis = zurud::hostpara::analysis_type(
        zurud::hostpara::formula_type::GROUP_SIZE, s.valid_states);
  run.emplace(options, data_file, assoc_file, io.standard_input);

  progress_line display(run->progress(), data_file);
  const zurud::read::data_notes& read = run->read_data();
  display.stop();
  data_notices(io.err, data_file, read, run->data_rows(), s);
  alphabet_notice(io.err, data_file, run->alphabet(), s);
  const zurud::hostpara::resolved_assocs& pairs = run->read_associations();
  // With weights the word after the host is read; the notice would name
  // it as passed over.
  if (!s.weights) assoc_notices(io.err, assoc_file, pairs.notes);
  for (const std::string& notice : pairs.notices) warn(io.err, notice);
  const zurud::hostpara::numeric_host_maps& hosts = run->group(io.err);
  if (s.incidence) {
    run->write_incidence(io.out);
    io.out.flush();
    return 0;
  }
  // The tidy table writes the labels as they are.
  if (!options.tidy_table) label_notices(io.err, hosts, s.output_layout);
  const std::int32_t not_started = run->write(io.out);
  if (const std::int64_t n = run->missing_polymorphisms(); n > 0)
    warn(io.err, count_of(n, "host cell") + " with several states " +
                     (n == 1 ? "was" : "were") + " written as \"?\": " +
                     layout_option(s.output_layout) +
                     " cannot hold a polymorphism; -N or -E writes each as "
                     "its states in braces ({01})");
  if (not_started > 0)
    warn(io.err, count_of(not_started, "thread") + " could not be started " +
                     "(the system refused them); the host rows were " +
                     "computed on fewer, with the same result");
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
  std::optional<zurud::hostpara::host_run> run;
  // A standard error that refuses writing loses the notices, not the host
  // matrix; the exit status then says that something could not be said.
  io.err.set_tolerant(true);
  try {
    const int rc = run_stages(args, io, run);
    io.err.flush();
    return io.err.failed() ? 1 : rc;
  } catch (const std::exception& e) {
    const zurud::failure_place place =
        run ? run->place() : zurud::failure_place{};
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
