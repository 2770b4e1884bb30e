// bench-stages: where karvo's time goes. Runs the stages of a karvo run in
// process on a data set, with the default layouts, and prints the wall time
// of each (the host rows once with one thread and once with all), next to two
// floors measured the same way: reading the file through a 256 KiB buffer (what
// cat does) and writing a fresh block of memory as large as the associate
// matrix (page faults and zeroing included).
//
//   bench-stages DATA_FILE ASSOCIATION_FILE [-s|-c|-v|-e|-f] [-g]
//   bench-stages --fresh NTAX NCHAR
//
// The second form prints only the seconds it takes to write fresh memory of
// NTAX x NCHAR cells, for the floor of bench/run.sh's table.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

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

int run(int argc, char** argv) {
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
        "[-g]\n       bench-stages --fresh NTAX NCHAR\n",
        stderr);
    return 2;
  }
  char analysis = 'c';
  zurud::char_set states = zurud::nuc_set;
  for (int a = 3; a < argc; ++a) {
    if (std::strcmp(argv[a], "-g") == 0)
      states = zurud::gapped_nuc_set;
    else if (argv[a][0] == '-')
      analysis = argv[a][1];
  }
  namespace read = zurud::read;
  namespace hostpara = zurud::hostpara;

  std::printf("karvo -%c%s:\n", analysis,
              states == zurud::gapped_nuc_set ? " -g" : "");
  stopwatch w;
  read::text_input in = read::text_input::open(argv[1]);
  const auto h = read::read_header(in);
  auto chars = std::make_unique<zurud::char_mat_type>(
      h.ntax, h.nchar, zurud::matrix_type::DISCR);
  if (analysis == 's')
    read::skim_char_mat(in, zurud::char_format_type::EXTENDED_PHYLIP, *chars);
  else
    read::read_char_mat(in, zurud::char_format_type::EXTENDED_PHYLIP, *chars,
                        zurud::lower_case_map);
  w.lap("read the matrix");

  zurud::sets::taxon_maps taxa;
  zurud::sets::to_taxon_map(chars->labels, taxa);
  hostpara::ordered_assocs assocs;
  read::text_input ain = read::text_input::open(argv[2]);
  hostpara::read_assoc(ain, assocs);
  hostpara::numeric_host_maps hosts;
  std::string warnings;
  zurud::text_output quiet(warnings);
  hostpara::to_numeric_host_map(hosts, assocs, taxa, quiet);
  hostpara::filter(hosts, 2, quiet);
  w.lap("associations, host map, filter");

  using zurud::hostpara::formula_type;
  const formula_type formula = analysis == 's'   ? formula_type::GROUP_SIZE
                               : analysis == 'v' ? formula_type::MODUS
                               : analysis == 'e' ? formula_type::ENTROPY
                               : analysis == 'f' ? formula_type::FREQUENCIES
                                                 : formula_type::CONSENSUS;
  const zurud::hostpara::host_matrix_job job{
      *chars, hosts, zurud::hostpara::analysis_type(formula, states),
      "mingrpsize= 2", zurud::char_format_type::EXTENDED_PHYLIP};
  zurud::text_output out(::open("/dev/null", O_WRONLY), "/dev/null");
  const std::int32_t all = karvo::available_processors();
  for (const std::int32_t threads : {1, all}) {
    w.restart();
    zurud::hostpara::write_host_matrix(job, threads, out);
    out.flush();
    const std::string what =
        "host rows to /dev/null, -t " + std::to_string(threads);
    w.lap(what.c_str());
  }
  chars.reset();
  floors(argv[1],
         static_cast<std::size_t>(h.ntax) * static_cast<std::size_t>(h.nchar));
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
