#include "zurud/zurud-read.hpp"

#include <string>
#include <string_view>

#include "zurud/zurud-text.hpp"

namespace zurud::read {

namespace {

std::string trimmed(std::string_view s, const char_set& set) {
  std::size_t first = 0, last = s.size();
  while (first < last && set.contains(s[first])) ++first;
  while (last > first && set.contains(s[last - 1])) --last;
  return std::string(s.substr(first, last - first));
}

std::string character_name(char c) {
  const auto code = static_cast<unsigned char>(c);
  if (code > 32 && code < 127) return std::string("\"") + c + "\"";
  return "code " + std::to_string(code);
}

// Cleans the residues of one record and appends it.
void store_sequence(const std::string& label, std::string& residues,
                    sequence_vecs& sequences) {
  text::remove(residues, whitespace);
  for (char& c : residues) c = good_gaps(c);
  for (char c : residues)
    if (non_wide_nuc_set.contains(c))
      throw invalid_character_error("invalid residue " + character_name(c),
                                    "in sequence \"" + label + "\"");
  sequences.append(sequence_type{label, {}, residues});
  residues.clear();
}

}  // namespace

void read_fasta(text_input& in, sequence_vecs& sequences) {
  std::string label;
  std::string residues;
  std::int64_t headers = 0;
  while (!in.end_of_input()) {
    const std::string line = in.read_line(max_line_len);
    if (!line.empty() && line[0] == '>') {
      if (++headers > 1) store_sequence(label, residues, sequences);
      label = trimmed(std::string_view(line).substr(1), whitespace);
    } else {
      residues += line;
    }
  }
  store_sequence(label, residues, sequences);
}

bool is_aligned(const sequence_vecs& sequences) {
  if (sequences.empty())
    throw range_error("no sequences to check for alignment");
  const std::size_t length = sequences(1).residues.size();
  if (length == 0) throw range_error("the first sequence has no residues");
  for (const sequence_type& s : sequences)
    if (s.residues.size() != length) return false;
  return true;
}

}  // namespace zurud::read
