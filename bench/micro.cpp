// Micro-benchmarks of the hot paths: reading discrete cells, each grouping
// formula, the real text, the matrix writer and the association table at
// 100 000 pairs. Inputs come from the data
// generator (a 300 x 30000 matrix, 40 hosts) and are built once.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "bench/data.hpp"
#include "zurud/detail/assoc-table.hpp"
#include "zurud/zurud-hostpara.hpp"
#include "zurud/zurud-print.hpp"
#include "zurud/zurud-read.hpp"
#include "zurud/zurud-sets.hpp"

namespace {

using zurud::char_mat_type;
using zurud::matrix_type;
namespace hostpara = zurud::hostpara;

struct fixture {
  std::string matrix_text;
  std::string assoc_text;
  std::unique_ptr<char_mat_type> chars;
  hostpara::numeric_host_maps hosts;
};

const fixture& data() {
  static const fixture f = [] {
    fixture f;
    {
      zurud::text_output m(f.matrix_text), a(f.assoc_text);
      zurud::bench::generate({"micro", 300, 30000, 40}, 7, m, a);
    }
    zurud::read::text_input in(f.matrix_text);
    const auto h = zurud::read::read_header(in);
    f.chars =
        std::make_unique<char_mat_type>(h.ntax, h.nchar, matrix_type::DISCR);
    zurud::read::read_char_mat(in, zurud::char_format_type::EXTENDED_PHYLIP,
                               *f.chars);
    zurud::print::convert_chars(*f.chars, zurud::lower_case_map);
    zurud::sets::taxon_maps taxa;
    zurud::sets::to_taxon_map(f.chars->labels, taxa);
    hostpara::ordered_assocs assocs;
    zurud::read::text_input ain(f.assoc_text);
    hostpara::read_assoc(ain, assocs);
    hostpara::to_numeric_host_map(f.hosts, assocs, taxa);
    std::string discard;
    zurud::text_output quiet(discard);
    hostpara::filter(f.hosts, 2, quiet);
    return f;
  }();
  return f;
}

// Output that costs no system time: /dev/null.
zurud::text_output& null_output() {
  static zurud::text_output out(::open("/dev/null", O_WRONLY), "/dev/null");
  return out;
}

// Cells of one kind of row: `unit` repeated to about 256 KiB, so the text
// stays in cache and the scan itself is measured.
std::string repeated(std::string_view unit) {
  std::string s;
  while (s.size() < (std::size_t{1} << 18)) s += unit;
  return s;
}

// The cells as read, or lower-cased with u as t as the grouping reads them,
// or only passed over (-s).
enum class scan { AS_READ, SITE, SKIP };

void read_black_of(benchmark::State& state, const std::string& text,
                   scan how = scan::AS_READ) {
  std::size_t cells = 0;
  for (char c : text) cells += zurud::blackspace.contains(c);
  std::unique_ptr<char[]> row(new char[cells]);
  for (auto _ : state) {
    zurud::read::text_input in(text);
    switch (how) {
      case scan::AS_READ: in.read_black(row.get(), cells); break;
      case scan::SITE: in.read_black(row.get(), cells, zurud::site_map); break;
      case scan::SKIP: in.skip_black(cells); break;
    }
    benchmark::DoNotOptimize(row.get());
    benchmark::DoNotOptimize(in.line());
  }
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_read_black_one_line(benchmark::State& state) {
  read_black_of(state, repeated("ACGTTGCAAC--GTAC?ACGTNACGTTGCAACGTACGTACGT"));
}
void BM_read_black_blocks_of_ten(benchmark::State& state) {
  read_black_of(state,
                repeated("ACGTTGCAAC GTAC?ACGTN ACGTTGCAAC GTACGTACGT "));
}
void BM_read_black_wrapped_crlf(benchmark::State& state) {
  read_black_of(state, repeated("ACGTTGCAAC GTAC?ACGTN ACGTTGCAAC GTACGTACGT "
                                "ACGTTGCAAC GTAC?ACGTN\r\n"));
}
void BM_read_black_one_line_site(benchmark::State& state) {
  read_black_of(state, repeated("ACGTTGCAAC--GTAC?ACGTNACGTTGCAACGTACGTACGT"),
                scan::SITE);
}
void BM_skip_black_one_line(benchmark::State& state) {
  read_black_of(state, repeated("ACGTTGCAAC--GTAC?ACGTNACGTTGCAACGTACGTACGT"),
                scan::SKIP);
}
void BM_skip_black_blocks_of_ten(benchmark::State& state) {
  read_black_of(state, repeated("ACGTTGCAAC GTAC?ACGTN ACGTTGCAAC GTACGTACGT\n"),
                scan::SKIP);
}
// FASTA as most writers wrap it: lines of 60 cells.
void BM_read_black_lines_of_60_site(benchmark::State& state) {
  read_black_of(state,
                repeated("ACGTTGCAACGTACAACGTNACGTTGCAACGTACGTACGTACGTTGCAACGT"
                         "ACAACGTN\n"),
                scan::SITE);
}
BENCHMARK(BM_read_black_one_line);
BENCHMARK(BM_read_black_one_line_site);
BENCHMARK(BM_read_black_lines_of_60_site);
BENCHMARK(BM_skip_black_one_line);
BENCHMARK(BM_skip_black_blocks_of_ten);
BENCHMARK(BM_read_black_blocks_of_ten);
BENCHMARK(BM_read_black_wrapped_crlf);

// The whole matrix reader on generated rows (labels, cells, line ends).
void BM_read_char_mat(benchmark::State& state) {
  const fixture& f = data();
  char_mat_type m(f.chars->ntax(), f.chars->nchar(), matrix_type::DISCR);
  for (auto _ : state) {
    zurud::read::text_input in(f.matrix_text);
    zurud::read::read_header(in);
    zurud::read::read_char_mat(in, zurud::char_format_type::EXTENDED_PHYLIP, m);
    benchmark::DoNotOptimize(m.discr_row(1));
  }
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * f.matrix_text.size()));
}
BENCHMARK(BM_read_char_mat)->Unit(benchmark::kMillisecond);

// One grouping formula: arg 0 is the analysis (0 consensus, 1 modus,
// 2 entropy, 3 frequencies), arg 1 is 1 for gaps as states; arg 2 is 1 for
// the plain reference path.
void BM_group(benchmark::State& state) {
  const fixture& f = data();
  const auto formula = state.range(0);
  const zurud::char_set states =
      state.range(1) != 0 ? zurud::gapped_nuc_set : zurud::nuc_set;
  const bool plain = state.range(2) != 0;
  const std::int32_t nchar = f.chars->nchar();
  const auto nhosts = static_cast<std::int32_t>(f.hosts.size());
  char_mat_type result(nhosts, formula == 3 ? nchar * states.size() : nchar,
                       formula <= 1 ? matrix_type::DISCR : matrix_type::QUANT);
  for (auto _ : state) {
    if (plain)
      hostpara::detail::fill_rows_plain(result, *f.chars, f.hosts, states,
                                        formula == 1);
    else
      hostpara::get_group_chars(result, *f.chars, f.hosts, states,
                                formula == 1);
    benchmark::ClobberMemory();
  }
  std::int64_t members = 0;
  for (const auto& [host, group] : f.hosts)
    members += static_cast<std::int64_t>(group.size());
  state.SetItemsProcessed(state.iterations() * members * nchar);
}
BENCHMARK(BM_group)
    ->ArgNames({"formula", "gaps", "plain"})
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}, {0}})
    ->Args({0, 0, 1})
    ->Args({2, 0, 1})
    ->Unit(benchmark::kMillisecond);

// The real text of entropy-like values, one conversion each.
void BM_put_real(benchmark::State& state) {
  zurud::text_output& out = null_output();
  float v = 0.0f;
  for (auto _ : state) {
    zurud::print::put_real(out, v);
    v = v >= 1.0f ? 0.0f : v + 1.0f / 4093.0f;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_put_real);

// The matrix writer on a host matrix: arg 0 is 0 for consensus (DISCR),
// 1 for entropies, 2 for frequencies (QUANT).
void BM_print_char_mat(benchmark::State& state) {
  const fixture& f = data();
  const auto formula = state.range(0);
  const std::int32_t nchar = f.chars->nchar();
  const auto nhosts = static_cast<std::int32_t>(f.hosts.size());
  char_mat_type result(nhosts, formula == 2 ? nchar * 4 : nchar,
                       formula == 0 ? matrix_type::DISCR : matrix_type::QUANT);
  hostpara::get_group_chars(result, *f.chars, f.hosts, zurud::nuc_set, false);
  zurud::text_output& out = null_output();
  for (auto _ : state) {
    zurud::print::print_char_mat(result,
                                 zurud::char_format_type::EXTENDED_PHYLIP, out);
    out.flush();
  }
  state.SetItemsProcessed(state.iterations() * nhosts * result.nchar());
}
BENCHMARK(BM_print_char_mat)
    ->ArgName("formula")
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond);

// The association side of a run at scale: 100 000 pairs (an associate
// each, 2 000 hosts) read as a table and resolved against the labels, as
// the run does it, and as resolve_assocs does into its set.
struct assoc_fixture {
  std::string text;
  std::vector<std::string> labels;
  hostpara::detail::label_index index;
  zurud::sets::taxon_maps taxa;
};

const assoc_fixture& assoc_data() {
  static const assoc_fixture f = [] {
    assoc_fixture f;
    for (int i = 0; i < 100000; ++i) {
      // Labels in another order than the pairs, as generated files have.
      f.labels.push_back("Para_" + std::to_string((i * 7919) % 100000));
      f.text += "Para_" + std::to_string(i) + "\tHost_" +
                std::to_string(i % 2000) + "\n";
    }
    f.index.build(f.labels, false);
    for (std::size_t i = 0; i < f.labels.size(); ++i)
      f.taxa.emplace(f.labels[i], static_cast<std::int32_t>(i + 1));
    return f;
  }();
  return f;
}

void BM_resolve_pairs_100k(benchmark::State& state) {
  const assoc_fixture& f = assoc_data();
  std::string discard;
  zurud::text_output quiet(discard);
  for (auto _ : state) {
    zurud::read::text_input in(f.text);
    const hostpara::assoc_table table = hostpara::read_assoc_table(in);
    hostpara::resolved_assocs res;
    std::vector<hostpara::detail::resolved_pair> pairs;
    hostpara::detail::resolve_pairs(table, &f.index, {}, quiet, res, pairs);
    benchmark::DoNotOptimize(pairs.data());
  }
}
BENCHMARK(BM_resolve_pairs_100k)->Unit(benchmark::kMillisecond);

void BM_resolve_assocs_100k(benchmark::State& state) {
  const assoc_fixture& f = assoc_data();
  std::string discard;
  zurud::text_output quiet(discard);
  for (auto _ : state) {
    zurud::read::text_input in(f.text);
    const hostpara::assoc_table table = hostpara::read_assoc_table(in);
    benchmark::DoNotOptimize(
        hostpara::resolve_assocs(table, &f.taxa, {}, quiet).assocs.size());
  }
}
BENCHMARK(BM_resolve_assocs_100k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
