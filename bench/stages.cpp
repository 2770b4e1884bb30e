// bench-stages: where karvo's time goes. Runs the stages of a karvo run in
// process on a data set, with the default layouts, and prints the wall time
// of each (the host rows once with one thread and once with all), next to two
// floors measured the same way: reading the file through a 256 KiB buffer (what
// cat does) and writing a fresh block of memory as large as the associate
// matrix (page faults and zeroing included).
//
//   bench-stages DATA_FILE ASSOCIATION_FILE [-s|-c|-v|-e|-f] [-g]
//                [-a dna|protein|standard] [--fold] [--total]
//   bench-stages --fresh NTAX NCHAR
//   bench-stages --read FILE
//   bench-stages --fold-bytes DATA_FILE ASSOCIATION_FILE -c|-v|-e|-f
//
// With --fold the run is karvo's (hostpara::host_run): the rows folded into
// their hosts as they are read when they can be (the association file read
// first), the host rows written with every processor; --total prints only
// the seconds of the whole run, as karvo's would take without starting a
// process.
//
// The second form prints only the seconds it takes to write fresh memory of
// NTAX x NCHAR cells, for the floor of bench/run.sh's table; --read the
// seconds of reading (and decoding) a whole file through the text input;
// --fold-bytes the bytes of the host accumulators a folded run lays out
// (bench/scale.sh's memory budget).
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "karvo/karvo.hpp"
#include "zurud/zurud-hostpara.hpp"
#include "zurud/zurud-read.hpp"
#include "zurud/zurud-sets.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

class stopwatch {
 public:
  void lap(const char* what) {
    const auto now = clock_type::now();
    std::printf("  %-34s %9.2f ms\n", what,
                std::chrono::duration<double, std::milli>(now - last_).count());
    last_ = now;
  }
  void restart() { last_ = clock_type::now(); }

 private:
  clock_type::time_point last_ = clock_type::now();
};

// A matrix of `cells` cells, written once: its page faults and zeroing.
void write_fresh(std::size_t cells) {
  zurud::char_mat_type fresh(
      static_cast<std::int32_t>(cells / zurud::max_chars + 1),
      zurud::max_chars, zurud::matrix_type::DISCR);
  std::memset(fresh.discr_row(1), 'a', cells);
}

void floors(const char* path, std::size_t cells) {
  std::puts("floors:");
  stopwatch w;
  const int fd = ::open(path, O_RDONLY);
  if (fd < 0) throw std::runtime_error(std::string("cannot open ") + path);
  auto buf = std::make_unique<char[]>(std::size_t{1} << 18);
  while (::read(fd, buf.get(), std::size_t{1} << 18) > 0) {
  }
  ::close(fd);
  w.lap("read() the data file");
  w.restart();
  write_fresh(cells);
  w.lap("write fresh memory of the cells");
}

// The sites of a data file: a PHYLIP header's count, or the cells of a
// FASTA file's first record.
std::int32_t sites_of(const char* path) {
  zurud::read::text_input in = zurud::read::text_input::open(path);
  if (zurud::read::detect_data_format(in) !=
      zurud::read::data_format_type::FASTA)
    return zurud::read::read_header(in).nchar;
  in.skip_line();
  std::int32_t n = 0;
  for (std::string_view line; !(line = in.peek_line()).empty() || !in.exhausted();) {
    if (line.empty()) {
      in.skip_line();
      continue;
    }
    if (line[0] == '>') break;
    for (const char c : line) n += !zurud::whitespace.contains(c);
    in.consume(line.size());
  }
  return n;
}

// The bytes of the host accumulators a folded run of `analysis` lays out:
// its hosts of at least two associations, over the file's sites.
std::size_t fold_bytes(const char* data, const char* hosts, char analysis) {
  zurud::read::text_input in = zurud::read::text_input::open(hosts);
  zurud::hostpara::ordered_assocs pairs;
  zurud::hostpara::read_assoc(in, pairs);
  std::map<std::string, std::size_t> count;
  for (const auto& a : pairs) ++count[a.host];
  std::vector<std::size_t> sizes;
  for (const auto& [host, n] : count)
    if (n >= 2) sizes.push_back(n);
  using zurud::hostpara::formula_type;
  const formula_type f = analysis == 'f'   ? formula_type::FREQUENCIES
                         : analysis == 'e' ? formula_type::ENTROPY
                         : analysis == 'v' ? formula_type::MODUS
                                           : formula_type::CONSENSUS;
  return zurud::hostpara::group_folds::bytes(
      zurud::hostpara::analysis_type(f, zurud::nuc_set), sizes,
      static_cast<std::size_t>(sites_of(data)));
}

int run(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--fold-bytes") == 0) {
    std::printf("%zu\n", fold_bytes(argv[2], argv[3], argv[4][1]));
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "--read") == 0) {
    // The decoder alone: the whole file read through the text input, as
    // karvo reads it (BGZF on every processor).
    const auto start = clock_type::now();
    zurud::read::text_input in = zurud::read::text_input::open(argv[2]);
    in.decoder_threads(static_cast<unsigned>(karvo::available_processors()));
    std::size_t n = 0;
    for (std::string_view v; !(v = in.peek_buffer()).empty();) {
      n += v.size();
      in.consume(v.size());
    }
    std::printf("%.6f\n", std::chrono::duration<double>(clock_type::now() -
                                                        start).count());
    return n > 0 ? 0 : 1;
  }
  if (argc == 4 && std::strcmp(argv[1], "--fresh") == 0) {
    const auto start = clock_type::now();
    write_fresh(std::stoull(argv[2]) * std::stoull(argv[3]));
    std::printf("%.6f\n", std::chrono::duration<double>(clock_type::now() -
                                                        start).count());
    return 0;
  }
  if (argc < 3) {
    std::fputs(
        "usage: bench-stages DATA_FILE ASSOCIATION_FILE [-s|-c|-v|-e|-f] "
        "[-g] [-a ALPHABET] [--fold] [--total]\n"
        "       bench-stages --fresh NTAX NCHAR\n"
        "       bench-stages --read FILE\n"
        "       bench-stages --fold-bytes DATA_FILE ASSOCIATION_FILE -c|-v|-e|-f\n",
        stderr);
    return 2;
  }
  char analysis = 'c';
  bool gaps = false, fold = false, total = false;
  zurud::alphabet_type alphabet = zurud::alphabet_type::dna();
  for (int a = 3; a < argc; ++a) {
    if (std::strcmp(argv[a], "-g") == 0) {
      gaps = true;
    } else if (std::strcmp(argv[a], "--fold") == 0) {
      fold = true;
    } else if (std::strcmp(argv[a], "--total") == 0) {
      total = true;
    } else if (std::strcmp(argv[a], "-a") == 0 && a + 1 < argc) {
      const auto named = zurud::alphabet_type::of_name(argv[++a]);
      if (!named) throw std::runtime_error("unknown alphabet");
      alphabet = *named;
    } else if (argv[a][0] == '-') {
      analysis = argv[a][1];
    }
  }
  namespace read = zurud::read;
  namespace hostpara = zurud::hostpara;
  using zurud::hostpara::formula_type;
  const formula_type formula = analysis == 's'   ? formula_type::GROUP_SIZE
                               : analysis == 'v' ? formula_type::MODUS
                               : analysis == 'e' ? formula_type::ENTROPY
                               : analysis == 'f' ? formula_type::FREQUENCIES
                                                 : formula_type::CONSENSUS;
  const hostpara::analysis_type chosen(formula, alphabet, gaps);

  if (!total)
    std::printf("karvo -%c%s -a %s%s:\n", analysis, gaps ? " -g" : "",
                std::string(alphabet.name()).c_str(),
                fold ? ", karvo's run" : "");
  const auto start = clock_type::now();
  stopwatch w;
  zurud::text_output out(::open("/dev/null", O_WRONLY), "/dev/null");
  const std::int32_t all = karvo::available_processors();
  if (fold) {
    // karvo's run, in the library: the rows folded into their hosts as they
    // are read (the association file read first), the cells never stored.
    hostpara::run_options options;
    options.analysis = chosen;
    options.threads = all;
    hostpara::host_run run(options, argv[1], argv[2]);
    run.read_data();
    if (!total) w.lap("read the matrix, folding rows");
    run.read_associations();
    std::string warnings;
    zurud::text_output quiet(warnings);
    run.group(quiet);
    if (!total) w.lap("associations, host map, filter");
    run.write(out);
    out.flush();
    if (total) {
      std::printf("%.6f\n", std::chrono::duration<double>(clock_type::now() -
                                                          start).count());
      return 0;
    }
    w.lap(("host rows to /dev/null, -t " + std::to_string(all)).c_str());
    return 0;
  }
  read::text_input in = read::text_input::open(argv[1]);
  read::data_file_options options;
  options.cells.map = alphabet.cell_map();
  options.cells.store = analysis != 's';
  options.whole_input = true;
  options.helper_threads = all > 1;  // as karvo
  auto chars = read::read_data_file(in, options);
  if (!total) w.lap("read the matrix");

  zurud::sets::taxon_maps taxa;
  zurud::sets::to_taxon_map(chars->labels, taxa);
  hostpara::ordered_assocs assocs;
  {
    read::text_input ain = read::text_input::open(argv[2]);
    hostpara::read_assoc(ain, assocs);
  }
  std::string warnings;
  zurud::text_output quiet(warnings);
  hostpara::numeric_host_maps hosts;
  hostpara::to_numeric_host_map(hosts, assocs, taxa, quiet);
  hostpara::filter(hosts, 2, quiet);
  if (!total) w.lap("associations, host map, filter");

  const hostpara::host_matrix_job job{*chars, hosts, chosen, "mingrpsize= 2",
                                      zurud::char_format_type::EXTENDED_PHYLIP};
  if (total) {
    hostpara::write_host_matrix(job, all, out);
    out.flush();
    std::printf("%.6f\n", std::chrono::duration<double>(clock_type::now() -
                                                        start).count());
    return 0;
  }
  for (const std::int32_t threads : {1, all}) {
    w.restart();
    hostpara::write_host_matrix(job, threads, out);
    out.flush();
    const std::string what =
        "host rows to /dev/null, -t " + std::to_string(threads);
    w.lap(what.c_str());
  }
  const std::int32_t ntax = chars->ntax(), nchar = chars->nchar();
  chars.reset();
  floors(argv[1],
         static_cast<std::size_t>(ntax) * static_cast<std::size_t>(nchar));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench-stages: %s\n", e.what());
    return 1;
  }
}
