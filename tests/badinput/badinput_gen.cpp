// Makes the inputs of the bad-input suite, so that the suite needs nothing
// beyond bash, coreutils and this program.
//
//   badinput_gen prefixes FILE OUT_DIR SAMPLES SEED
//       every prefix of FILE that ends at a line end or just before one, and
//       every byte prefix (SAMPLES of them, drawn, when FILE is longer)
//   badinput_gen mutants FILE OUT_DIR COUNT SEED
//       COUNT copies of FILE with one to four random edits each: a flipped
//       bit, a NUL byte, a byte from 128-255, a control character, an
//       inserted or deleted byte, a deleted or repeated line
//   badinput_gen matrix NTAX NCHAR PREFIX OUT
//       a data file: labels PREFIX1.., rows of NCHAR bases
//   badinput_gen pairs NASSOC NHOSTS PREFIX OUT
//       an association file pairing each associate PREFIX1.. with every host
//       H1..: NASSOC * NHOSTS lines
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "badinput_gen: cannot read " << path << "\n";
    std::exit(2);
  }
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out) {
    std::cerr << "badinput_gen: cannot write " << path << "\n";
    std::exit(2);
  }
}

long number(const char* text) { return std::strtol(text, nullptr, 10); }

void prefixes(const std::string& text, const std::string& dir, long samples,
              std::mt19937& rng) {
  std::set<std::size_t> cuts;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n') {
      cuts.insert(i);
      cuts.insert(i + 1);
    }
  if (text.size() <= static_cast<std::size_t>(samples)) {
    for (std::size_t i = 0; i < text.size(); ++i) cuts.insert(i);
  } else {
    std::uniform_int_distribution<std::size_t> at(0, text.size() - 1);
    for (long k = 0; k < samples; ++k) cuts.insert(at(rng));
  }
  cuts.erase(text.size());  // the whole file is not a prefix
  for (std::size_t n : cuts)
    write_file(dir + "/cut-" + std::to_string(n), text.substr(0, n));
}

std::string mutate(std::string s, std::mt19937& rng) {
  const int edits = std::uniform_int_distribution<int>(1, 4)(rng);
  for (int e = 0; e < edits && !s.empty(); ++e) {
    const std::size_t at =
        std::uniform_int_distribution<std::size_t>(0, s.size() - 1)(rng);
    auto byte = [&](int lo, int hi) {
      return static_cast<char>(std::uniform_int_distribution<int>(lo, hi)(rng));
    };
    switch (std::uniform_int_distribution<int>(0, 7)(rng)) {
      case 0: s[at] = static_cast<char>(s[at] ^ (1 << (rng() % 8))); break;
      case 1: s[at] = '\0'; break;
      case 2: s[at] = byte(128, 255); break;
      case 3: s.insert(at, 1, "\t\r\f\v\x1b\x7f"[rng() % 6]); break;
      case 4: s.insert(at, 1, byte(0, 255)); break;
      case 5: s.erase(at, 1); break;
      case 6: {  // delete the line holding `at`
        const std::size_t first = s.rfind('\n', at);
        const std::size_t from = first == std::string::npos ? 0 : first + 1;
        const std::size_t end = s.find('\n', at);
        s.erase(from, end == std::string::npos ? std::string::npos
                                               : end - from + 1);
        break;
      }
      case 7: {  // repeat the line holding `at`
        const std::size_t first = s.rfind('\n', at);
        const std::size_t from = first == std::string::npos ? 0 : first + 1;
        std::size_t end = s.find('\n', at);
        end = end == std::string::npos ? s.size() : end + 1;
        s.insert(from, s.substr(from, end - from));
        break;
      }
    }
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  if (argc == 6 && args[1] == "prefixes") {
    std::mt19937 rng(static_cast<unsigned>(number(argv[5])));
    prefixes(read_file(args[2]), args[3], number(argv[4]), rng);
  } else if (argc == 6 && args[1] == "mutants") {
    std::mt19937 rng(static_cast<unsigned>(number(argv[5])));
    const std::string text = read_file(args[2]);
    for (long k = 0; k < number(argv[4]); ++k)
      write_file(args[3] + "/mut-" + std::to_string(k), mutate(text, rng));
  } else if (argc == 6 && args[1] == "matrix") {
    const long ntax = number(argv[2]), nchar = number(argv[3]);
    std::string text = " " + args[2] + " " + args[3] + "\n";
    for (long i = 1; i <= ntax; ++i) {
      text += args[4] + std::to_string(i) + " ";
      for (long j = 0; j < nchar; ++j) text += "acgt"[(i * 7 + j * 3) % 4];
      text += '\n';
    }
    write_file(args[5], text);
  } else if (argc == 6 && args[1] == "pairs") {
    const long nassoc = number(argv[2]), nhosts = number(argv[3]);
    std::string text;
    for (long i = 1; i <= nassoc; ++i)
      for (long h = 1; h <= nhosts; ++h)
        text += args[4] + std::to_string(i) + " H" + std::to_string(h) + "\n";
    write_file(args[5], text);
  } else {
    std::cerr << "usage: badinput_gen prefixes|mutants FILE OUT_DIR N SEED\n"
                 "       badinput_gen matrix NTAX NCHAR PREFIX OUT\n"
                 "       badinput_gen pairs NASSOC NHOSTS PREFIX OUT\n";
    return 2;
  }
  return 0;
}
