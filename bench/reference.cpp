// karvo-reference: karvo's run taken the long way, as the yardstick for
// karvo's fast paths. It accepts karvo's options and file arguments (data
// from a file or "-", associations from a file), and -a dna|protein|standard
// for the alphabet of the cells (dna when not given), and writes the host
// matrix to standard output (its -t changes nothing), so
// `cmp <(karvo ARGS) <(karvo-reference ARGS)` proves that the shortcuts and
// the threads change no byte. Every step that karvo speeds up is done here
// in its plainest form:
//   - each cell is one get_black call (one read_char after another), not the
//     buffered row scan;
//   - every cell is mapped one by one through the alphabet's mapping (lower
//     case, u as t), not while the rows are scanned;
//   - the host matrix comes from group strings, entropy, modal_values and
//     the alphabet's codes (hostpara::detail::fill_rows_plain), not per-host
//     counts;
//   - every number is formatted afresh with put_integer or put_real, without
//     the writer's cache of real texts;
//   - the tidy table (-T) comes from group strings and the plain host
//     matrices of the consensus, the modal values and the entropies, its
//     numbers by printf, not from counts and a memo of their text;
//   - with -w, the association file is lines of associate, host and weight
//     (blank-separated), and every cell is weighed from the cells and
//     weights of its site (hostpara::detail::fill_rows_weighted_plain).
// Failures end the run with a one-line message and exit status 1; their
// wording is karvo's business and is not compared.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "karvo/karvo.hpp"
#include "zurud/zurud-hostpara.hpp"
#include "zurud/zurud-print.hpp"
#include "zurud/zurud-read.hpp"
#include "zurud/zurud-sets.hpp"

namespace {

using zurud::char_format_type;
using zurud::char_mat_type;
using zurud::matrix_type;
using zurud::text_output;
namespace read = zurud::read;
namespace print = zurud::print;
namespace hostpara = zurud::hostpara;

void read_rows(read::text_input& in, char_format_type layout,
               char_mat_type& m) {
  const auto labels = read::label_layout(layout);
  for (std::int32_t i = 1; i <= m.ntax(); ++i) {
    m.labels(i) = read::read_label(in, labels);
    for (std::int32_t j = 1; j <= m.nchar(); ++j)
      m.discr(i, j) = read::get_black(in, zurud::whitespace);
    if (!in.exhausted()) in.skip_line();
  }
}

std::string trimmed(std::string s) {
  constexpr zurud::char_set trim{"\t []"};
  while (!s.empty() && trim.contains(s.back())) s.pop_back();
  std::size_t k = 0;
  while (k < s.size() && trim.contains(s[k])) ++k;
  return s.substr(k);
}

std::string mapped(std::string s, const zurud::char_mapping& map) {
  for (char& c : s) c = map(c);
  return s;
}

// The NEXUS name of column c of entropies or frequencies: site, "_", the
// state (or "entropy"), quoted when it holds a mark NEXUS reserves.
std::string column_name(const hostpara::analysis_type& analysis,
                        std::int64_t c) {
  std::string what = "entropy";
  std::int64_t per_site = 1;
  if (analysis.formula() == hostpara::formula_type::FREQUENCIES) {
    const std::vector<std::string> names = analysis.state_names();
    per_site = static_cast<std::int64_t>(names.size());
    what = names[static_cast<std::size_t>(c % per_site)];
  }
  std::string name = std::to_string(c / per_site + 1) + "_" + what;
  for (const char ch : name)
    if (zurud::non_nexus_label_set.contains(ch)) return "'" + name + "'";
  return name;
}

// Polymorphisms are written in braces in NEXUS; the other layouts have the
// "?" the host matrix holds.
void write_matrix(const char_mat_type& m, char_format_type layout,
                  const hostpara::analysis_type& analysis,
                  const std::vector<zurud::polymorphic_cell>& polymorphisms,
                  text_output& out) {
  const zurud::alphabet_type& alphabet = analysis.alphabet();
  const bool nexus = layout == char_format_type::NEXUS ||
                     layout == char_format_type::NEXUS_ENCLOSED;
  std::size_t width = 10;
  if (layout != char_format_type::PHYLIP)
    width = static_cast<std::size_t>(print::max_label_length(m.labels)) +
            (layout == char_format_type::NEXUS_ENCLOSED ? 2 : 0);
  if (nexus) {
    out.put("#NEXUS\n\n");
    if (!m.comment.empty())
      out.put("[" + mapped(m.comment, zurud::good_comment) + "]\n\n");
    out.put("begin data;\n\tdimensions ntax=");
    print::put_integer(out, m.ntax());
    out.put(" nchar=");
    print::put_integer(out, m.nchar());
    out.put(";\n\tformat datatype=");
    if (m.char_type() == matrix_type::DISCR) {
      out.put(alphabet.datatype());
      if (!alphabet.symbols().empty())
        out.put(" symbols=\"" + alphabet.symbols() + "\"");
      out.put(" gap=-");
    } else {
      out.put("numerical");
    }
    out.put(" missing=?;\n");
    if (m.char_type() == matrix_type::QUANT) {
      out.put("\tcharlabels");
      for (std::int64_t c = 0; c < m.nchar(); ++c)
        out.put(" " + column_name(analysis, c));
      out.put(";\n");
    }
    out.put("\tmatrix\n");
    if (m.char_type() == matrix_type::DISCR)
      print::print_char_nums(m.nchar(), static_cast<std::int32_t>(width), out);
  } else {
    print::put_integer(out, m.ntax());
    out.put('\t');
    print::put_integer(out, m.nchar());
    if (layout == char_format_type::COMMENTED_PHYLIP &&
        !trimmed(m.comment).empty())
      out.put("\t[" + trimmed(m.comment) + "]");
    out.put('\n');
  }
  auto poly = polymorphisms.begin();
  for (std::int32_t i = 1; i <= m.ntax(); ++i) {
    print::print_label(m.labels(i), layout, width, out);
    if (layout == char_format_type::COMMENTED_PHYLIP)
      out.put("\t[" + mapped(trimmed(m.comments(i)), zurud::no_space) + "]");
    if (m.char_type() == matrix_type::DISCR) out.put('\t');
    for (std::int32_t j = 1; j <= m.nchar(); ++j) {
      switch (m.char_type()) {
        case matrix_type::DISCR: {
          const std::size_t cell = static_cast<std::size_t>(i - 1) *
                                       static_cast<std::size_t>(m.nchar()) +
                                   static_cast<std::size_t>(j - 1);
          if (poly != polymorphisms.end() && poly->site == cell) {
            if (nexus)
              out.put(alphabet.polymorphism(poly->states));
            else
              out.put(m.discr(i, j));
            ++poly;
          } else {
            out.put(m.discr(i, j));
          }
          break;
        }
        case matrix_type::QUANT:
          out.put('\t');
          print::put_real(out, m.quant(i, j));
          break;
        case matrix_type::CNTCH:
          out.put('\t');
          print::put_integer(out, m.count(i, j));
          break;
      }
    }
    if (nexus && !m.comments(i).empty())
      out.put("\t[" + mapped(m.comments(i), zurud::good_comment) + "]");
    out.put('\n');
  }
  print::print_footer(layout, out);
}

// A code of the tidy table: NA for "?", a polymorphism in braces.
std::string table_code(const char_mat_type& m, std::int32_t i, std::int32_t j,
                       const std::vector<zurud::polymorphic_cell>& poly,
                       const zurud::alphabet_type& alphabet) {
  const std::size_t cell =
      static_cast<std::size_t>(i - 1) * static_cast<std::size_t>(m.nchar()) +
      static_cast<std::size_t>(j - 1);
  for (const zurud::polymorphic_cell& p : poly)
    if (p.site == cell) return alphabet.polymorphism(p.states);
  return m.discr(i, j) == '?' ? "NA" : std::string(1, m.discr(i, j));
}

// The tidy table: a line per host and site from the group strings and the
// plain matrices of three formulas.
void write_table(const char_mat_type& chars,
                 const hostpara::numeric_host_maps& hosts,
                 const hostpara::analysis_type& analysis,
                 const std::vector<std::vector<double>>* weights,
                 text_output& out) {
  using hostpara::formula_type;
  const auto nhosts = static_cast<std::int32_t>(hosts.size());
  char_mat_type consensus(nhosts, chars.nchar(), matrix_type::DISCR),
      modal(nhosts, chars.nchar(), matrix_type::DISCR),
      entropy(nhosts, chars.nchar(), matrix_type::QUANT);
  std::vector<zurud::polymorphic_cell> consensus_poly, modal_poly;
  const auto fill = [&](char_mat_type& m, formula_type f,
                        std::vector<zurud::polymorphic_cell>* poly) {
    if (weights != nullptr)
      hostpara::detail::fill_rows_weighted_plain(
          m, chars, hosts, *weights, analysis.with_formula(f), poly);
    else
      hostpara::detail::fill_rows_plain(m, chars, hosts,
                                        analysis.with_formula(f), poly);
  };
  fill(consensus, formula_type::CONSENSUS, &consensus_poly);
  fill(modal, formula_type::MODUS, &modal_poly);
  fill(entropy, formula_type::ENTROPY, nullptr);
  const std::string states = analysis.valid_states().members();
  out.put("host\tassociates\tsite\tn");
  for (const std::string& name : analysis.state_names()) out.put("\t" + name);
  out.put("\tconsensus\tmodal\tentropy\n");
  std::int32_t i = 0;
  for (const auto& [label, group] : hosts) {
    ++i;
    std::string start = label;
    if (label.find('"') != std::string::npos) {
      start = "\"";
      for (const char c : label) start += c == '"' ? "\"\"" : std::string(1, c);
      start += "\"";
    }
    start += "\t" + std::to_string(group.size()) + "\t";
    for (std::int32_t j = 1; j <= chars.nchar(); ++j) {
      std::string cells;
      std::map<char, double> weighed;
      std::size_t g = 0;
      for (const std::int32_t r : group) {
        if (analysis.valid_states().contains(chars.discr(r, j))) {
          cells += chars.discr(r, j);
          if (weights != nullptr)
            weighed[chars.discr(r, j)] +=
                (*weights)[static_cast<std::size_t>(i - 1)][g];
        }
        ++g;
      }
      std::string line =
          start + std::to_string(j) + "\t" + std::to_string(cells.size());
      for (const char c : states) {
        if (weights == nullptr) {
          line +=
              "\t" + std::to_string(std::count(cells.begin(), cells.end(), c));
          continue;
        }
        // Weight sums: integers as such, else six significant digits.
        const double v = weighed[c];
        char sum[40];
        std::snprintf(
            sum, sizeof sum,
            v == std::floor(v) && v < 9007199254740992.0 ? "%.0f" : "%.6g", v);
        line += std::string("\t") + sum;
      }
      line += "\t" +
              table_code(consensus, i, j, consensus_poly, analysis.alphabet());
      line += "\t" + table_code(modal, i, j, modal_poly, analysis.alphabet());
      const float h = entropy.quant(i, j);
      char text[32] = "NA";
      if (h != hostpara::analysis_type::undefined_real)
        std::snprintf(text, sizeof text, "%.6g", static_cast<double>(h));
      out.put(line + "\t" + text + "\n");
    }
  }
}

// Takes "-a NAME" out of the arguments (the leftmost when repeated, as for
// karvo's options): the alphabet it names, nucleotides without it.
zurud::alphabet_type alphabet_option(std::vector<std::string>& args) {
  std::optional<zurud::alphabet_type> alphabet;
  for (std::size_t i = args.size(); i-- > 1;) {
    if (args[i] != "-a") continue;
    if (i + 1 >= args.size())
      throw zurud::constraint_error("option -a needs a value");
    alphabet = zurud::alphabet_type::of_name(args[i + 1]);
    if (!alphabet)
      throw zurud::constraint_error("unknown alphabet \"" + args[i + 1] +
                                    "\" (dna, protein or standard)");
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
               args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
  }
  return alphabet ? *alphabet : zurud::alphabet_type::dna();
}

int run(std::vector<std::string>& args) {
  const zurud::alphabet_type alphabet = alphabet_option(args);
  const karvo::settings s = karvo::scan_options(args);
  if (args.size() != 3) {
    std::fputs(
        "usage: karvo-reference [karvo's options] data_file "
        "association_file\n",
        stderr);
    return 1;
  }
  read::text_input data = args[1] == "-" ? read::text_input::standard_input()
                                         : read::text_input::open(args[1]);
  const read::header_type h = read::read_header(data);
  char_mat_type chars(h.ntax, h.nchar, matrix_type::DISCR);
  read_rows(data, s.input_layout, chars);

  zurud::tax_lab_type names = chars.labels;
  if (s.input_layout == char_format_type::PHYLIP)
    for (std::int32_t i = 1; i <= names.size(); ++i)
      names(i).erase(names(i).find_last_not_of(' ') + 1);
  zurud::sets::taxon_maps taxa;
  zurud::sets::to_taxon_map(names, taxa);
  hostpara::ordered_assocs assocs;
  // With -w: lines of associate, host and weight; a weight of 0 drops the
  // pair.
  std::map<std::pair<std::string, std::int32_t>, double> weight_of;
  std::map<std::pair<std::string, std::string>, double> weight_of_names;
  if (s.weights) {
    std::FILE* f = std::fopen(args[2].c_str(), "r");
    if (f == nullptr) throw zurud::open_error("cannot open " + args[2]);
    char buf[4096];
    while (std::fgets(buf, sizeof buf, f) != nullptr) {
      std::istringstream words(buf);
      std::string para, host, weight;
      if (!(words >> para >> host >> weight)) continue;
      const double w = std::strtod(weight.c_str(), nullptr);
      if (w == 0) continue;
      assocs.insert({host, para});
      weight_of_names[{host, para}] = w;
    }
    std::fclose(f);
  } else {
    read::text_input in = read::text_input::open(args[2]);
    hostpara::read_assoc(in, assocs);
  }
  hostpara::numeric_host_maps hosts;
  hostpara::to_numeric_host_map(hosts, assocs, taxa);
  hostpara::filter(hosts, s.min_group_size);
  std::vector<std::vector<double>> weights;
  for (const auto& [names, w] : weight_of_names)
    weight_of[{names.first, taxa.at(names.second)}] = w;
  for (const auto& [host, group] : hosts) {
    weights.emplace_back();
    for (const std::int32_t r : group)
      weights.back().push_back(weight_of[{host, r}]);
  }
  hostpara::analysis_type analysis(karvo::analysis_of(s).formula(), alphabet,
                                   s.valid_states.contains('-'));
  if (s.threshold) analysis.with_threshold(*s.threshold);
  analysis.with_minimum(s.min_with_state);
  for (std::int32_t i = 1; i <= chars.ntax(); ++i)
    for (std::int32_t j = 1; j <= chars.nchar(); ++j)
      chars.discr(i, j) = alphabet.cell_map()(chars.discr(i, j));

  const auto nhosts = static_cast<std::int32_t>(hosts.size());
  if (s.tidy) {
    if (nhosts < 1 || nhosts > zurud::max_taxa)
      throw zurud::range_error("host count outside 1..5000");
    write_table(chars, hosts, analysis, s.weights ? &weights : nullptr,
                zurud::standard_output());
    zurud::standard_output().flush();
    return 0;
  }
  // The constructor and columns() refuse what karvo refuses: no host left,
  // more than 5000, or too many frequency columns.
  char_mat_type result(nhosts, analysis.columns(chars.nchar()),
                       analysis.cell_type());
  result.comment = "mingrpsize=" + zurud::integer_image(s.min_group_size);
  std::vector<zurud::polymorphic_cell> polymorphisms;
  if (s.weights)
    hostpara::detail::fill_rows_weighted_plain(result, chars, hosts, weights,
                                               analysis, &polymorphisms);
  else
    hostpara::detail::fill_rows_plain(result, chars, hosts, analysis,
                                      &polymorphisms);
  write_matrix(result, s.output_layout, analysis, polymorphisms,
               zurud::standard_output());
  zurud::standard_output().flush();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  try {
    return run(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "karvo-reference: %s\n", e.what());
    return 1;
  }
}
