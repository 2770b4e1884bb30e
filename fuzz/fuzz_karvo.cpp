// The whole road in process: karvo::run on a fuzzed argument list, data file
// and association file.
//
// Input: the first line holds the arguments, separated by blanks; "@d" and
// "@a" stand for the data and the association file, which the target writes
// to a private folder. The rest is the data text, then "%%%", then the
// association text. Standard input holds the association text when "@d" is
// among the arguments, else the data text followed by the association text
// (so "- -" reads both from one stream). Any other argument that does not
// begin with "-", a digit, a sign or a blank (the forms an option or a value
// of -m takes) names a file that does not exist, so that no fuzzed name
// reaches the real file system.
//
// Oracles: exit status 0 or 1; after a failure, nothing on standard output
// and standard error ending in exactly one line that is not a warning (or
// the usage text); after success, only warnings on standard error and an
// output that our own reader reads back as a matrix of the analysis' type.
// Group sizes and consensus read the matrix by different paths, yet must
// succeed or fail alike, with the same lines on standard error; one thread
// and several write the same bytes.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.hpp"
#include "karvo/karvo.hpp"

namespace {

using karvo::assoc_conv_type;
using zurud::char_format_type;
using zurud_fuzz::check;

// The private folder, made on first use and removed at exit.
struct folder {
  std::string path;
  folder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "fuzz_karvo.XXXXXX")
            .string();
    if (::mkdtemp(pattern.data()) == nullptr) zurud_fuzz::fail("mkdtemp");
    path = pattern;
  }
  ~folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string write(const char* name, std::string_view text) const {
    const std::string file = path + "/" + name;
    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (f == nullptr) zurud_fuzz::fail("cannot write a fuzz input file");
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return file;
  }
};

const folder& private_folder() {
  static const folder f;
  return f;
}

bool may_be_option_or_value(const std::string& arg) {
  if (arg.empty()) return false;
  const char c = arg[0];
  return c == '-' || c == '+' || c == ' ' || c == '\t' || (c >= '0' && c <= '9');
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Standard error without the notices about the cells' alphabet and the
// host cells written, which only the analyses that store the cells can give.
std::string without_alphabet_notice(const std::string& err) {
  std::string kept;
  for (std::size_t from = 0; from < err.size();) {
    std::size_t end = err.find('\n', from);
    end = end == std::string::npos ? err.size() : end + 1;
    const std::string_view line(err.data() + from, end - from);
    if (line.find("letters outside the nucleotide codes") ==
            std::string_view::npos &&
        line.find(" are digits") == std::string_view::npos &&
        line.find("most sites are nucleotide letters") ==
            std::string_view::npos &&
        line.find("with several states") == std::string_view::npos)
      kept += line;
    from = end;
  }
  return kept;
}

// A notice of karvo's own: input read, but perhaps not as meant.
bool is_notice(const std::string& line) {
  return line.starts_with("karvo: warning: ");
}

bool is_warning(const std::string& line) {
  return line.starts_with("WARNING: Removing host ") ||
         line.starts_with("Unknown parasite: ") || is_notice(line);
}

// The host matrix of a successful run must read back as a matrix of the
// analysis' cell type, in the PHYLIP family of layouts.
void check_output_reads_back(const std::string& out, const karvo::settings& s) {
  if (s.incidence) {
    // -A: the 0/1 incidence matrix for R, a header of associates after a
    // TAB, then per host its label and a 0 or 1 for each.
    const std::vector<std::string> rows = lines_of(out);
    check(!rows.empty() && rows[0].starts_with("\t"),
          "the incidence header starts with a TAB");
    const auto tabs = std::count(rows[0].begin(), rows[0].end(), '\t');
    for (std::size_t i = 1; i < rows.size(); ++i) {
      check(std::count(rows[i].begin(), rows[i].end(), '\t') == tabs,
            "every incidence row has a cell for each associate");
      for (std::size_t at = rows[i].find('\t'); at != std::string::npos;
           at = rows[i].find('\t', at + 1))
        check(at + 1 < rows[i].size() &&
                  (rows[i][at + 1] == '0' || rows[i][at + 1] == '1'),
              "incidence cells are 0 or 1");
    }
    return;
  }
  if (s.tidy) {
    // -T: a header, then a line per host and site with as many fields.
    const std::vector<std::string> rows = lines_of(out);
    check(!rows.empty() && rows[0].starts_with("host\tassociates\tsite\tn\t"),
          "the tidy table starts with its header");
    const auto tabs = std::count(rows[0].begin(), rows[0].end(), '\t');
    for (std::size_t i = 1; i < rows.size(); ++i)
      check(std::count(rows[i].begin(), rows[i].end(), '\t') == tabs,
            "every line of the tidy table has every field");
    check(out.ends_with("\n"), "the tidy table ends with a line end");
    return;
  }
  const char_format_type layout = s.output_layout;
  if (layout == char_format_type::NEXUS ||
      layout == char_format_type::NEXUS_ENCLOSED) {
    check(out.starts_with("#NEXUS\n") && out.ends_with("end;\n\n"),
          "NEXUS output is complete");
    return;
  }
  const zurud::matrix_type type = karvo::analysis_of(s).cell_type();
  try {
    zurud::read::text_input in(out);
    const auto h = zurud::read::read_header(in);
    zurud::char_mat_type m(h.ntax, h.nchar, type);
    zurud::read::read_char_mat(in, layout, m);
    check(in.exhausted(), "nothing after the host rows");
  } catch (const zurud::error& e) {
    std::fprintf(stderr, "%s: %s: %s\n", e.kind(), e.what(), e.detail().c_str());
    zurud_fuzz::fail("the output does not read back");
  }
}

struct outcome {
  int rc;
  std::string out, err;
};

outcome run_once(const std::vector<std::string>& args,
                 const std::string& stdin_text) {
  zurud::read::text_input standard_input(stdin_text, "standard input");
  outcome r;
  zurud::text_output out_stream(r.out), err_stream(r.err);
  r.rc = karvo::run(args, karvo::streams{&standard_input, out_stream, err_stream});
  out_stream.flush();
  err_stream.flush();
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes,
                                      std::size_t size) {
  const auto input = zurud_fuzz::as_text(bytes, size);
  const std::size_t eol = input.find('\n');
  const std::string_view arg_line =
      eol == std::string_view::npos ? input : input.substr(0, eol);
  const std::string_view rest =
      eol == std::string_view::npos ? std::string_view{} : input.substr(eol + 1);
  const std::size_t sep = rest.find("%%%");
  const std::string_view data_text =
      sep == std::string_view::npos ? rest : rest.substr(0, sep);
  const std::string_view assoc_text =
      sep == std::string_view::npos ? std::string_view{} : rest.substr(sep + 3);
  // Either text may be read as the data file.
  if (zurud_fuzz::header_too_large(data_text) ||
      zurud_fuzz::header_too_large(assoc_text))
    return -1;

  const folder& dir = private_folder();
  const std::string data_file = dir.write("data", data_text);
  const std::string assoc_file = dir.write("assoc", assoc_text);
  std::vector<std::string> args{"karvo"};
  bool data_named = false;
  std::size_t start = 0;
  while (start <= arg_line.size() && !arg_line.empty()) {
    std::size_t end = arg_line.find(' ', start);
    if (end == std::string_view::npos) end = arg_line.size();
    std::string arg(arg_line.substr(start, end - start));
    start = end + 1;
    if (arg == "@d") {
      arg = data_file;
      data_named = true;
    } else if (arg == "@a") {
      arg = assoc_file;
    } else if (!may_be_option_or_value(arg)) {
      arg = dir.path + "/missing";
    }
    args.push_back(std::move(arg));
  }

  std::string stdin_text(assoc_text);
  if (!data_named) stdin_text = std::string(data_text) + stdin_text;
  const outcome first = run_once(args, stdin_text);
  const int rc = first.rc;
  const std::string& out = first.out;
  const std::string& err = first.err;
  // --version and --help alone print their text on standard output.
  if (args.size() == 2 && (args[1] == "--version" || args[1] == "--help")) {
    check(rc == 0 && err.empty() && out.starts_with("karvo "),
          "--version and --help print on standard output");
    return 0;
  }

  std::vector<std::string> options(args);
  std::optional<karvo::settings> scanned;
  try {
    scanned = karvo::scan_options(options);
  } catch (const zurud::error&) {
    check(rc == 1, "a bad option fails the run");
  }
  // A threshold is a consensus's: with group sizes it is a usage failure.
  if (scanned && options.size() == 3 && !scanned->threshold &&
      scanned->analysis != assoc_conv_type::FREQUENCIES) {
    // The leftmost option wins: the other analysis, all else the same.
    std::vector<std::string> other(args);
    other.insert(other.begin() + 1,
                 scanned->analysis == assoc_conv_type::GROUP_SIZE ? "-c" : "-s");
    const outcome second = run_once(other, stdin_text);
    check(second.rc == rc &&
              without_alphabet_notice(second.err) ==
                  without_alphabet_notice(err),
          "group sizes and consensus fail alike");
  }

  check(rc == 0 || rc == 1, "exit status 0 or 1");
  const std::vector<std::string> lines = lines_of(err);
  check(err.empty() || err.back() == '\n', "standard error ends its line");
  if (rc == 1) {
    check(out.empty(), "nothing on standard output after a failure");
    check(!lines.empty(), "a failure is reported");
    // The usage text, after at most one line saying what was wrong.
    for (std::size_t i = 0; i < lines.size() && i < 2; ++i)
      if (lines[i].starts_with("karvo computes host character data")) {
        check(i == 0 || lines[0].starts_with("karvo: "),
              "the line before the usage text is karvo's");
        return 0;
      }
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
      check(is_warning(lines[i]), "only warnings before the diagnostic");
    check(!is_warning(lines.back()), "the last line is the diagnostic");
    return 0;
  }
  check(!out.empty(), "a successful run writes its matrix");
  for (const std::string& line : lines)
    check(line.starts_with("WARNING: Removing host ") || is_notice(line),
          "only warnings on standard error after success");
  check(scanned.has_value(), "a successful run had valid options");
  check_output_reads_back(out, *scanned);
  // The thread count changes no byte (the leftmost -t wins).
  std::vector<std::string> threaded(args);
  threaded.insert(threaded.begin() + 1,
                  {"-t", scanned->threads == 1 ? "3" : "1"});
  const outcome third = run_once(threaded, stdin_text);
  check(third.rc == rc && third.out == out && third.err == err,
        "every thread count writes the same");
  return 0;
}
