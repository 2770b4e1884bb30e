// bench-generate: writes a benchmark data set, deterministic by seed.
//
//   bench-generate PRESET FOLDER [SEED]
//   bench-generate NTAX NCHAR NHOSTS FOLDER/NAME [SEED [STATES]]
//
// Writes NAME.phy (the associate matrix; FASTA for the FASTA presets, which
// karvo tells by its content) and NAME.hosts (the association
// file), each first under a temporary name and renamed when complete, so an
// interrupted run never leaves a data set that looks finished. A preset
// with other states is PRESET-STATES ("medium-protein"); STATES are dna,
// rna, protein, standard (0-9) or binary (0, 1).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "bench/data.hpp"

namespace {

int open_for_writing(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
  return fd;
}

int usage() {
  std::fputs(
      "usage: bench-generate PRESET[-STATES] FOLDER [SEED]\n"
      "       bench-generate NTAX NCHAR NHOSTS FOLDER/NAME [SEED [STATES]]\n"
      "states: dna (default), rna, protein, standard, binary\n"
      "presets:",
      stderr);
  for (const auto& p : zurud::bench::presets())
    std::fprintf(stderr, " %s (%d x %d, %d hosts)", p.name.c_str(), p.ntax,
                 p.nchar, p.nhosts);
  std::fputc('\n', stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  zurud::bench::preset_type shape;
  std::string base;
  std::uint64_t seed = 1;
  if (argc == 3 || argc == 4) {
    const auto p = zurud::bench::find_preset(argv[1]);
    if (!p) return usage();
    shape = *p;
    base = std::string(argv[2]) + "/" + p->name;
    if (argc == 4) seed = std::strtoull(argv[3], nullptr, 10);
  } else if (argc >= 5 && argc <= 7) {
    shape = {"custom", std::atoi(argv[1]), std::atoi(argv[2]),
             std::atoi(argv[3])};
    base = argv[4];
    if (argc >= 6) seed = std::strtoull(argv[5], nullptr, 10);
    if (argc == 7) shape.alphabet = argv[6];
  } else {
    return usage();
  }
  try {
    const std::string phy = base + ".phy", hosts = base + ".hosts";
    {
      zurud::text_output matrix(open_for_writing(phy + ".part"), phy);
      zurud::text_output assocs(open_for_writing(hosts + ".part"), hosts);
      zurud::bench::generate(shape, seed, matrix, assocs);
    }
    if (std::rename((hosts + ".part").c_str(), hosts.c_str()) != 0 ||
        std::rename((phy + ".part").c_str(), phy.c_str()) != 0) {
      std::perror(base.c_str());
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench-generate: %s\n", e.what());
    return 1;
  }
  return 0;
}
