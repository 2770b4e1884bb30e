// A run from the two files to the host matrix: the order in which the files
// are read, the reader that serves both, and the host rows folded while the
// data file is read when the association file can be read first.
#include "zurud/zurud-hostpara.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <map>
#include <optional>
#include <utility>

#include "zurud/detail/hostpara-run.hpp"

namespace zurud::hostpara {

namespace detail {

// The association file read ahead of the data file. A failure is kept and
// raised where the file is read otherwise, after the data file, so that a
// bad data file still reports its own failure first.
struct early_assocs {
  std::optional<assoc_table> table;
  std::exception_ptr failure;
  read::text_input* failed_in = nullptr;  // where it failed, if open
};

// The rows of a data file read one at a time: folded into their hosts by
// the folder when it takes them, else kept, a block of rows at a time (the
// associates' matrix, without its ranges); counted for the progress
// display either way.
class run_rows final : public read::row_sink {
 public:
  run_rows(host_folder* folder, bool keep, read::read_progress& progress)
      : folder_(folder), keep_(keep), progress_(progress) {}

  bool accept(std::int32_t ntax, std::int32_t nchar) override {
    folding_ = folder_ != nullptr && folder_->accept(ntax, nchar);
    nchar_ = static_cast<std::size_t>(nchar);
    per_block_ = std::max<std::size_t>(1, (std::size_t{1} << 22) / nchar_);
    return folding_ || keep_;
  }
  char* row_memory() override {
    if (folding_) return folder_->row_memory();
    if (used_ == per_block_ || blocks_.empty()) {
      blocks_.push_back(std::make_unique_for_overwrite<char[]>(per_block_ *
                                                               nchar_));
      used_ = 0;
    }
    return blocks_.back().get() + used_ * nchar_;
  }
  void take(std::int32_t row, const std::string& label, char* cells) override {
    if (folding_) {
      folder_->take(row, label, cells);
    } else {
      rows_.push_back(cells);
      ++used_;
    }
    progress_.rows.store(row, std::memory_order_relaxed);
  }
  std::span<std::uint8_t> fresh_memory() override {
    return folding_ ? folder_->fresh_memory() : std::span<std::uint8_t>();
  }

  bool folding() const noexcept { return folding_; }
  /// The rows kept, in order.
  std::vector<const char*> rows() const { return rows_; }

 private:
  host_folder* folder_;
  bool keep_;
  read::read_progress& progress_;
  bool folding_ = false;
  std::size_t nchar_ = 0, per_block_ = 1, used_ = 0;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::vector<const char*> rows_;
};

struct run_state {
  run_options options;
  read::read_progress progress;
  std::string data_file, assoc_file;
  read::text_input* standard_input;
  // The inputs outlive the stages so that a failure can still be placed in
  // the file and line it happened in.
  std::optional<read::text_input> standard, data, assoc;
  read::text_input* reading = nullptr;

  std::optional<early_assocs> early;
  std::optional<host_folder> folder;
  // The associates: a matrix (NEXUS, interleaved PHYLIP), or rows read one
  // at a time (sequential PHYLIP, FASTA), folded or kept; their labels.
  char_mat_access chars;
  std::optional<run_rows> rows;
  std::vector<std::string> labels;
  std::int32_t nchar = 0;
  read::data_format_type format = read::data_format_type::PHYLIP;
  read::data_notes data_notes;
  alphabet_choice alphabet;
  std::int64_t missing_polymorphisms = 0;
  // The labels by name, and the associations resolved against them: views
  // into the labels and the table, which the run keeps until group().
  label_index taxa;
  std::optional<assoc_table> table;
  resolved_assocs resolved;
  std::vector<resolved_pair> pairs;
  // The rows the folder found for the pairs as read (empty: none).
  std::vector<std::int32_t> known_rows;
  // A failure to resolve the names, with the line it wrote for the error
  // stream, raised by group() once the caller has said its notices.
  std::exception_ptr resolve_failure;
  std::string resolve_lines;
  numeric_host_maps hosts;
  std::vector<std::size_t> fold_hosts;
  // With weights: each pair's, then each kept host's in group order.
  assoc_weights weights;
  std::vector<std::vector<double>> host_weights;

  bool both_on_standard_input() const {
    return data_file == "-" && assoc_file == "-";
  }

  // One reader of standard input serves both "-" arguments, so the
  // associations continue where the matrix rows end.
  read::text_input& open(const std::string& file,
                         std::optional<read::text_input>& slot) {
    read::text_input* in = nullptr;
    if (file != "-") {
      in = &slot.emplace(read::text_input::open(file));
    } else if (standard_input != nullptr) {
      return *standard_input;
    } else {
      if (!standard) standard.emplace(read::text_input::standard_input());
      in = &*standard;
    }
    // A gzip file of BGZF blocks is inflated on the run's threads.
    in->decoder_threads(static_cast<unsigned>(options.threads));
    return *in;
  }
};

}  // namespace detail

namespace {

using detail::resolved_pair;
using detail::run_state;

// Whether two file arguments are certainly different files (so reading one
// first cannot change what the other holds); "-" is standard input.
bool different_files(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  const auto status = [](const std::string& f, struct stat& st) {
    return f == "-" ? fstat(0, &st) : stat(f.c_str(), &st);
  };
  if (status(a, sa) != 0 || status(b, sb) != 0) return false;
  return sa.st_dev != sb.st_dev || sa.st_ino != sb.st_ino;
}

// Two file arguments that are one pipe, socket or terminal (other than "-"
// twice, which shares one reader of standard input): the data file would
// take all it holds, and the association file then waits for text that
// never comes.
void refuse_one_stream_twice(const std::string& data_file,
                             const std::string& assoc_file) {
  if (data_file == "-" && assoc_file == "-") return;
  struct stat sa {}, sb {};
  const auto status = [](const std::string& f, struct stat& st) {
    return f == "-" ? fstat(0, &st) : stat(f.c_str(), &st);
  };
  if (status(data_file, sa) != 0 || status(assoc_file, sb) != 0) return;
  if (sa.st_dev != sb.st_dev || sa.st_ino != sb.st_ino) return;
  if (S_ISREG(sa.st_mode) || S_ISDIR(sa.st_mode) || S_ISBLK(sa.st_mode))
    return;
  throw open_error(
      "the data file and the association file are one stream (" +
      (assoc_file == "-" ? data_file : assoc_file) +
      "): give the associations a file of their own, or the stream as - "
      "for both, the associations after the matrix");
}

// An association file without a single pair leaves no host to write: that
// is said of the file itself rather than of the hosts.
void require_pairs(const assoc_table& table, bool after_matrix) {
  if (table.size() > 0) return;
  if (after_matrix)
    throw end_of_file_error(
        "no association pairs follow the matrix on standard input");
  throw end_of_file_error("the association file is empty",
                          "it holds no pair of an associate and a host");
}

// Reads the association file from `in` as a table.
assoc_table read_table(read::text_input& in, bool after_matrix) {
  assoc_table table = read_assoc_table(in);
  require_pairs(table, after_matrix);
  return table;
}

// The association file read first, when rows can be folded as they are
// read: the data file and the association file are different files, and
// the data file is read row by row.
void read_associations_early(run_state& r) {
  const run_options& o = r.options;
  std::string discarded;
  // Weighted rows are weighed from the stored rows.
  if (!group_folds::can_fold(o.analysis) || o.interleaved || !o.fold ||
      o.weights || !different_files(r.data_file, r.assoc_file))
    return;
  r.early.emplace();
  try {
    read::text_input& in = r.open(r.assoc_file, r.assoc);
    r.early->failed_in = &in;
    r.early->table = read_table(in, r.both_on_standard_input());
    r.early->failed_in = nullptr;
    r.assoc.reset();
    // The pairs as read: a header row, associates the data file lacks and
    // names that differ from a label in "_" for blank are told only by the
    // labels, and fold nothing or are matched by the folder itself. An
    // incidence matrix needs the labels for its orientation: its rows are
    // stored.
    if (!r.early->table->needs_labels()) {
      // A table that fails as read (the same pair twice, say) may read
      // well with the labels (its first line a header): the labels decide,
      // and the rows are stored meanwhile.
      bool read_well = false;
      resolved_assocs as_read;
      std::vector<resolved_pair> pairs;
      try {
        text_output quiet(discarded);
        detail::resolve_pairs(*r.early->table, nullptr, o.assoc, quiet, as_read,
                              pairs);
        read_well = true;
      } catch (const error&) {
      }
      if (read_well)
        r.folder.emplace(pairs, o.min_group_size,
                         o.input_layout == char_format_type::PHYLIP,
                         o.analysis);
    }
  } catch (...) {
    r.early->failure = std::current_exception();
  }
}

// The cells of the first lines of a PHYLIP or FASTA file as the buffer
// holds them, into `sample`: FASTA headers passed over; of a PHYLIP file,
// the count line and the labels (a word, ten characters, or a word and the
// comment word of the commented layout), and no more lines than the rows it
// declares (association pairs may follow on the same input).
void sample_text(std::string_view text, read::data_format_type format,
                 char_format_type layout, zurud::alphabet_sample& sample) {
  const bool phylip = format == read::data_format_type::PHYLIP;
  std::int64_t rows_left = -1;  // until the count line is read
  for (std::size_t pos = 0; pos < text.size() && rows_left != 0;) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    if (!phylip) {
      if (line[0] != '>') sample.add_cells(line);
      continue;
    }
    if (rows_left < 0) {
      const std::size_t k = line.find_first_not_of(" \t");
      rows_left = 0;
      for (std::size_t d = k; d < line.size() && line[d] >= '0' &&
                              line[d] <= '9' && rows_left < 100000000;
           ++d)
        rows_left = rows_left * 10 + (line[d] - '0');
      continue;
    }
    --rows_left;
    const auto skip_word = [&] {
      std::size_t k = line.find_first_not_of(" \t\r");
      k = k == std::string_view::npos ? k : line.find_first_of(" \t\r", k);
      line.remove_prefix(k == std::string_view::npos ? line.size() : k);
    };
    if (layout == char_format_type::PHYLIP) {
      line.remove_prefix(std::min<std::size_t>(10, line.size()));
    } else {
      skip_word();
      if (layout == char_format_type::COMMENTED_PHYLIP) skip_word();
    }
    sample.add_cells(line);
  }
}

// Shares of a sample, for the notice.
void note_sample(alphabet_choice& c, const zurud::alphabet_sample& s) {
  if (s.counted() == 0) return;
  c.foreign_percent = static_cast<int>(100 * s.foreign() / s.counted());
  c.digit_percent = static_cast<int>(100 * s.digits() / s.counted());
}

const alphabet_type& alphabet_of(alphabet_kind_type kind) {
  static const alphabet_type standard = alphabet_type::standard();
  switch (kind) {
    case alphabet_kind_type::PROTEIN: return alphabet_type::protein();
    case alphabet_kind_type::STANDARD: return standard;
    case alphabet_kind_type::DNA: break;
  }
  return alphabet_type::dna();
}

// The analysis over another alphabet, its formula, gaps, threshold and
// minimum kept.
analysis_type with_alphabet(const analysis_type& a, const alphabet_type& to) {
  analysis_type b(a.formula(), to,
                  a.valid_states().contains(alphabet_type::gap));
  b.with_threshold(a.threshold()).with_minimum(a.minimum());
  return b;
}

// For a PHYLIP or FASTA file whose cells choose the alphabet: the text the
// buffer holds first says it, before any row is read (and folded).
void choose_alphabet_from_text(run_state& r, read::text_input& in,
                               read::data_format_type format) {
  in.peek(4096);  // at least this much, where the input has it
  zurud::alphabet_sample sample(1, 1);
  sample_text(in.peek_buffer(), format, r.options.input_layout, sample);
  r.alphabet.by = alphabet_choice::by_type::CONTENT;
  r.alphabet.kind = sample.guess();
  note_sample(r.alphabet, sample);
  r.options.analysis =
      with_alphabet(r.options.analysis, alphabet_of(r.alphabet.kind));
}

// The host map of the pairs resolved, as to_numeric_host_map makes it of
// their associations: hosts ranked by label, then (rank, row) pairs sorted,
// so that each map and set is filled at its end.
void group_pairs(run_state& r, text_output& err) {
  std::vector<std::string_view> met;
  detail::flat_index index;
  std::vector<std::uint64_t> keyed;  // host << 32 | row
  keyed.reserve(r.pairs.size());
  for (const resolved_pair& p : r.pairs) {
    if (p.row <= 0) {
      // Resolving failed for every associate that is no label: none is left.
      err.put_line("Unknown parasite: " + std::string(p.para));
      throw constraint_error(key_not_in_map_msg);
    }
    const auto fresh = static_cast<std::uint32_t>(met.size());
    const std::uint32_t h =
        index.find_or_add(detail::text_hash(p.host), fresh,
                          [&](std::uint32_t j) { return met[j] == p.host; });
    if (h == fresh) met.push_back(p.host);
    keyed.push_back(static_cast<std::uint64_t>(h) << 32 |
                    static_cast<std::uint32_t>(p.row));
  }
  std::vector<std::uint32_t> order(met.size()), rank(met.size());
  for (std::uint32_t h = 0; h < order.size(); ++h) order[h] = h;
  std::sort(order.begin(), order.end(),
            [&](std::uint32_t a, std::uint32_t b) { return met[a] < met[b]; });
  for (std::uint32_t k = 0; k < order.size(); ++k) rank[order[k]] = k;
  for (std::uint64_t& key : keyed)
    key = static_cast<std::uint64_t>(rank[key >> 32]) << 32 |
          static_cast<std::uint32_t>(key);
  std::sort(keyed.begin(), keyed.end());
  auto at = r.hosts.end();
  std::uint32_t current = 0xFFFFFFFFu;
  for (const std::uint64_t key : keyed) {
    const auto h = static_cast<std::uint32_t>(key >> 32);
    if (h != current || at == r.hosts.end()) {
      current = h;
      at = r.hosts.try_emplace(r.hosts.end(), std::string(met[order[h]]));
    }
    at->second.emplace_hint(at->second.end(),
                            static_cast<std::int32_t>(key & 0xFFFFFFFFu));
  }
}

// The associates' rows as the engine reads them: folded, kept one at a time
// or a matrix's.
associate_rows associates_of(const run_state& r) {
  if (r.chars) return associate_rows(*r.chars);
  if (r.rows && r.rows->folding() && !r.hosts.empty()) {
    std::size_t largest = 1;
    for (const auto& [host, group] : r.hosts)
      largest = std::max(largest, group.size());
    return associate_rows::folded(static_cast<std::int32_t>(largest), r.nchar);
  }
  if (r.rows && !r.rows->folding()) return associate_rows(r.rows->rows(), r.nchar);
  return associate_rows::folded(static_cast<std::int32_t>(r.labels.size()),
                                r.nchar);
}

// What the stored cells say of their alphabet: a sample of each row.
zurud::alphabet_sample sample_rows(const run_state& r) {
  const associate_rows rows = associates_of(r);
  zurud::alphabet_sample sample(std::max<std::int32_t>(rows.count(), 1),
                                rows.nchar());
  if (rows.stored())
    for (std::int32_t i = 1; i <= rows.count(); ++i) sample.add(rows.row(i));
  return sample;
}

}  // namespace

host_run::host_run(const run_options& options, std::string data_file,
                   std::string assoc_file, read::text_input* standard_input)
    : state_(std::make_unique<run_state>()) {
  refuse_one_stream_twice(data_file, assoc_file);
  state_->options = options;
  // The tidy table is written from counts of states, which every formula
  // but the frequencies' may fold away.
  if (options.tidy_table)
    state_->options.analysis =
        options.analysis.with_formula(formula_type::FREQUENCIES);
  state_->data_file = std::move(data_file);
  state_->assoc_file = std::move(assoc_file);
  state_->standard_input = standard_input;
}

host_run::~host_run() = default;

const read::data_notes& host_run::read_data() {
  run_state& r = *state_;
  const run_options& o = r.options;
  r.alphabet.kind = o.analysis.alphabet().kind();

  read::text_input& in = r.open(r.data_file, r.data);
  r.reading = &in;
  if (in.exhausted()) throw end_of_file_error("the data file is empty");
  // The alphabet comes first: rows are stored, or folded, as its states.
  const read::data_format_type format = read::detect_data_format(in);
  const bool by_datatype =
      o.choose_alphabet && format == read::data_format_type::NEXUS;
  if (o.choose_alphabet && !by_datatype)
    choose_alphabet_from_text(r, in, format);
  r.reading = nullptr;
  read_associations_early(r);
  r.reading = &in;
  // Group sizes need the labels only, so the cells are checked and passed
  // over. Every other analysis needs them as sites (lower case, u as t):
  // that is done while they are read, which saves a pass over the whole
  // matrix.
  read::data_file_options options;
  options.layout = o.input_layout;
  options.interleaved = o.interleaved;
  options.cells.map = o.analysis.alphabet().cell_map();
  options.cells.map_by_datatype = by_datatype;
  // Standard characters may write a set of states as one cell ({01}).
  options.cells.sets = o.analysis.alphabet().writes_polymorphisms();
  options.cells.store = o.analysis.formula() != formula_type::GROUP_SIZE;
  // With both files on standard input the associations follow the rows.
  options.whole_input = !r.both_on_standard_input();
  options.helper_threads = o.threads > 1;
  in.report_to(&r.progress);
  if (read::streams_rows(format, options)) {
    // Rows one at a time, as many as the file holds: folded, or kept.
    r.rows.emplace(r.folder ? &*r.folder : nullptr, options.cells.store,
                   r.progress);
    read::data_rows_type read =
        read::read_data_rows(in, options, *r.rows, &r.format, &r.data_notes);
    r.labels = std::move(read.labels);
    r.nchar = read.nchar;
    if (!r.rows->folding()) r.folder.reset();
  } else {
    r.folder.reset();  // such files are stored
    r.chars = read::read_data_file(in, options, &r.format, &r.data_notes);
    r.labels.assign(r.chars->labels.begin(), r.chars->labels.end());
    r.nchar = r.chars->nchar();
  }
  in.report_to(nullptr);
  if (r.folder) {
    r.folder->finish_rows();
    r.known_rows = r.folder->pair_rows();
    r.folder->release_associates();
  }
  r.reading = nullptr;
  if (by_datatype) {
    // NEXUS says its alphabet; without a DATATYPE that names one (or
    // MIXED), the cells do, as stored (through the nucleotides' mapping).
    const auto& declared = r.data_notes.declared;
    if (const auto a =
            alphabet_type::of_datatype(declared.datatype, declared.symbols)) {
      r.alphabet.by = alphabet_choice::by_type::DATATYPE;
      r.alphabet.kind = a->kind();
      r.options.analysis = with_alphabet(r.options.analysis, *a);
    } else if (options.cells.store) {
      const zurud::alphabet_sample sample = sample_rows(r);
      r.alphabet.by = alphabet_choice::by_type::CONTENT;
      r.alphabet.kind = sample.guess();
      note_sample(r.alphabet, sample);
      r.options.analysis =
          with_alphabet(r.options.analysis, alphabet_of(r.alphabet.kind));
    }
  } else if (!o.choose_alphabet) {
    // An alphabet given: what the cells say of it, for the caller.
    if (r.folder && r.folder->folds() != nullptr) {
      note_sample(r.alphabet, r.folder->sample());
    } else if (options.cells.store) {
      note_sample(r.alphabet, sample_rows(r));
    }
  }
  r.data.reset();  // closes the data file

  // Every label once: a label met twice fails here, before the association
  // file is looked at.
  const bool trim = r.format == read::data_format_type::PHYLIP &&
                    o.input_layout == char_format_type::PHYLIP;
  r.taxa.build(r.labels, trim);
  return r.data_notes;
}

std::int32_t host_run::data_rows() const {
  return static_cast<std::int32_t>(state_->labels.size());
}

const alphabet_choice& host_run::alphabet() const noexcept {
  return state_->alphabet;
}

std::int64_t host_run::missing_polymorphisms() const noexcept {
  return state_->missing_polymorphisms;
}

const resolved_assocs& host_run::read_associations() {
  run_state& r = *state_;
  std::optional<assoc_table>& table = r.table;
  if (r.early) {
    if (r.early->failure) {
      r.reading = r.early->failed_in;
      std::rethrow_exception(r.early->failure);
    }
    table = std::move(r.early->table);
  } else {
    read::text_input& in = r.open(r.assoc_file, r.assoc);
    r.reading = &in;
    table = read_table(in, r.both_on_standard_input());
    r.reading = nullptr;
    r.assoc.reset();
  }
  // The names meet the labels. A failure here names the file and line in
  // its detail; the line it writes waits for the caller's notices.
  text_output lines(r.resolve_lines);
  try {
    // As resolve_assocs: nothing is told of a table that fails.
    resolved_assocs resolved;
    detail::resolve_pairs(*table, &r.taxa, r.options.assoc, lines, resolved,
                          r.pairs, r.known_rows);
    r.known_rows = {};
    r.resolved = std::move(resolved);
  } catch (...) {
    r.resolve_failure = std::current_exception();
  }
  lines.flush();
  if (r.options.weights && !r.resolve_failure) {
    // The weights are read from the associations' sources, as
    // resolve_assocs makes them; the pairs left (a weight of 0 drops one)
    // are grouped.
    detail::fill_assocs(r.pairs, true, r.resolved);
    r.weights = take_weights(r.resolved, table->name());
    r.pairs.clear();
    for (const association& a : r.resolved.assocs)
      r.pairs.push_back({a.para, a.host, {}, 0, r.taxa.find(a.para)});
  }
  return r.resolved;
}

const numeric_host_maps& host_run::group(text_output& err) {
  run_state& r = *state_;
  if (r.resolve_failure) {
    err.put(r.resolve_lines);
    std::rethrow_exception(r.resolve_failure);
  }
  group_pairs(r, err);
  // Each host's weights by row, for its group's order once hosts are
  // filtered.
  std::map<std::string_view, std::map<std::int32_t, double>> by_host;
  if (r.options.weights)
    for (const association& a : r.resolved.assocs)
      by_host[a.host][r.taxa.find(a.para)] = r.weights.at(a);
  r.weights = {};
  r.pairs = {};
  r.table.reset();

  filter(r.hosts, r.options.min_group_size, err);
  if (r.options.weights)
    for (const auto& [host, group] : r.hosts) {
      std::vector<double>& w = r.host_weights.emplace_back();
      for (const auto& [row, weight] : by_host.at(host)) w.push_back(weight);
    }
  r.resolved = {};
  r.taxa.clear();

  // The host matrix is written, never held: as many hosts as 32 bits
  // count.
  const auto nhosts = r.hosts.size();
  if (nhosts < 1)
    throw range_error("host count 0 outside 1..2147483647",
                      "no host has at least " +
                          std::to_string(r.options.min_group_size) +
                          " associates");
  if (nhosts > static_cast<std::size_t>(INT32_MAX))
    throw range_error("host count " + std::to_string(nhosts) +
                      " outside 1..2147483647");
  return r.hosts;
}

std::int32_t host_run::write(text_output& out) {
  run_state& r = *state_;
  // The frequencies' width is checked before anything is written (the
  // tidy table has a line a site, and no width).
  if (!r.options.tidy_table) r.options.analysis.written_columns(r.nchar);
  const group_folds* folds = r.folder ? r.folder->folds() : nullptr;
  if (folds != nullptr) r.fold_hosts = r.folder->fold_hosts(r.hosts);
  const host_matrix_report report = write_host_matrix(
      {associates_of(r), r.hosts, r.options.analysis,
       "mingrpsize=" + integer_image(r.options.min_group_size),
       r.options.output_layout, folds, folds ? &r.fold_hosts : nullptr,
       r.options.tidy_table, r.options.weights ? &r.host_weights : nullptr},
      r.options.threads, out);
  r.chars.reset();
  r.rows.reset();
  r.missing_polymorphisms = report.missing_polymorphisms;
  return report.threads_not_started;
}

void host_run::write_incidence(text_output& out) {
  run_state& r = *state_;
  std::vector<std::string> names = std::move(r.labels);
  if (r.format == read::data_format_type::PHYLIP &&
      r.options.input_layout == char_format_type::PHYLIP)
    for (std::string& n : names) n.erase(n.find_last_not_of(' ') + 1);
  write_incidence_matrix(r.hosts, names, out);
  r.chars.reset();
  r.rows.reset();
}

const read::read_progress& host_run::progress() const noexcept {
  return state_->progress;
}

failure_place host_run::place() const {
  return read::place_of(state_->reading);
}

}  // namespace zurud::hostpara
