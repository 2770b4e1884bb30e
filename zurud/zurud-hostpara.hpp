// Host-associate analysis: associations and the association file, the
// numeric host map, host filtering, entropy and modal values, the group
// characters that give each host its row, host-wise distances and name-keyed
// host maps.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "zurud/zurud-read.hpp"
#include "zurud/zurud-sets.hpp"
#include "zurud/zurud.hpp"

namespace zurud::hostpara {

// ---------------------------------------------------------------------------
// Associations.

/// One host-associate pair, by label.
struct association {
  std::string host;
  std::string para;
};

enum class assoc_part : std::uint8_t { HOST, PARA };

/// By host, then associate; byte order of the labels.
bool operator<(const association& a, const association& b) noexcept;
/// Both labels equal.
bool equal_assoc(const association& a, const association& b) noexcept;
inline bool operator==(const association& a, const association& b) noexcept {
  return equal_assoc(a, b);
}
/// string_hash of host + char(28) + para.
std::uint32_t id_assoc(const association& a) noexcept;

struct assoc_hash {
  std::size_t operator()(const association& a) const noexcept {
    return id_assoc(a);
  }
};
struct assoc_equal {
  bool operator()(const association& a, const association& b) const noexcept {
    return equal_assoc(a, b);
  }
};

using assoc_sets = std::unordered_set<association, assoc_hash, assoc_equal>;
using ordered_assocs = std::set<association>;

/// What the association reader noticed on the way, for the caller's notices.
struct assoc_notes {
  /// Lines holding more words than the pair, the first of them (its line
  /// number) and its further words (at most 40 characters).
  std::int64_t extra_words_lines = 0;
  std::int64_t extra_words_line = 0;
  std::string extra_words;
};

/// Reads the rest of `in` as an association table (read_assoc_table, below)
/// and inserts its pairs as read, without the data file's labels: for a
/// file of words, pairs of words (associate, then host) until the input
/// holds nothing but whitespace and line ends, the rest of a line after a
/// pair skipped; a line ends at a line feed or a carriage return. Does not
/// clear `set`. constraint_error "attempt to insert element already in set"
/// for a pair met before; end_of_file_error when the input ends in the
/// middle of a pair; format_error as read_assoc_table; constraint_error for
/// an incidence matrix, whose orientation needs the labels. Pairs inserted
/// before a failure stay. `notes`, when given, learns of further words after
/// a pair.
void read_assoc(read::text_input& in, ordered_assocs& set,
                assoc_notes* notes = nullptr);
void read_assoc(read::text_input& in, assoc_sets& set,
                assoc_notes* notes = nullptr);

// ---------------------------------------------------------------------------
// Association tables as users keep them. An association file is read in two
// stages. read_assoc_table takes in everything the file alone tells: its
// encoding, its separator and quoting, a column of row numbers, and its
// shape (pairs of names, or an incidence matrix). resolve_assocs then makes
// the decisions that need the data file's labels (whether the first line is
// a header, which side of an incidence matrix names the associates, names
// written with "_" for a blank or the other way round, associates the data
// file lacks) and yields the associations. The table can be read before the
// data file and resolved after it, without reading the file again.
//
// Shapes, as the first line that is not blank tells them apart:
// - Words (no TAB, and no comma or semicolon that makes a table): pairs of
//   words as read_assoc has always read them, a pair possibly spanning
//   lines. Any line that holds a TAB is split at TABs instead, so that a
//   name may hold blanks; fields are trimmed, and runs of TABs count as
//   one, as runs of blanks do.
// - Comma- or semicolon-separated (the more frequent of the two on that
//   line, which splits at it into two names or more, and every one of the
//   first 64 lines that are not blank holds it): one pair a line, the
//   associate in the first field and the host in the second; fields are
//   trimmed; an empty field is a field, and a line without both names is
//   passed over. A line without the separator is read as words.
// - Fields in double quotes (RFC 4180: "" is a quote inside, the separator
//   may stand inside; \" as R's write.table writes it) in comma, semicolon
//   and TAB lines, and in word lines when the first line starts with a
//   quote (R's write.table).
// - A column of row numbers (1, 2, ... or 0, 1, ...) before the associates,
//   as R and pandas write by default, when the first line (the header) has
//   one field fewer than the others or an empty first field.
// - An incidence matrix: a first line of at least two labels (the columns),
//   then lines of a label and cells, every cell 1, 0, TRUE, FALSE (any
//   case), T, F or empty (0), missing cells 0; the first line may start
//   with an empty or named corner field.
// Text in UTF-16 (a byte order mark tells the byte order; without one, a
// zero byte beside every character of the first two) is read as UTF-8; a
// UTF-8 byte order mark is passed over. Names are compared byte for byte.

/// The shape read_assoc_table found.
enum class assoc_shape : std::uint8_t { WORDS, DELIMITED, INCIDENCE };

namespace detail {
struct table_data;
}

/// An association file as read, before its names meet the data file's.
class assoc_table {
 public:
  assoc_table();
  ~assoc_table();
  assoc_table(assoc_table&&) noexcept;
  assoc_table& operator=(assoc_table&&) noexcept;

  /// The input's name, as messages give it.
  const std::string& name() const noexcept;
  assoc_shape shape() const noexcept;
  /// TAB, ',' or ';' for delimited tables and incidence matrices split by
  /// one; 0 for words.
  char separator() const noexcept;
  /// Pairs read (WORDS, DELIMITED; a header row included) or cells holding
  /// 1 (INCIDENCE).
  std::size_t size() const noexcept;
  /// Whether resolving needs the data file's labels to give the pairs
  /// (an incidence matrix, whose orientation they tell); the other shapes
  /// resolve to the pairs as read when no labels are given.
  bool needs_labels() const noexcept;

  const detail::table_data& data() const noexcept { return *data_; }
  detail::table_data& data() noexcept { return *data_; }

 private:
  std::unique_ptr<detail::table_data> data_;
};

/// Reads the whole rest of `in` as an association table. format_error (with
/// the line set on the error and named in the detail) for a field longer
/// than 10000 characters, a line longer than 64 MiB, a quoted field without
/// its closing quote on the line, or broken UTF-16. Reading takes time
/// linear in the input.
assoc_table read_assoc_table(read::text_input& in);

/// Which side of an incidence matrix names the associates.
enum class incidence_rows : std::uint8_t { AUTO, ASSOCIATES, HOSTS };

/// What resolve_assocs may decide, and how the caller's options that decide
/// it are named in messages.
struct assoc_resolve_options {
  /// Pass over pairs whose associate is not a label of the data file,
  /// instead of failing at the first.
  bool pass_unknown = false;
  /// The option that sets pass_unknown, as messages name it.
  std::string pass_unknown_option = "-u";
  incidence_rows rows = incidence_rows::AUTO;
  /// The option that sets `rows`, named when the labels cannot tell; empty:
  /// none.
  std::string rows_option;
  /// Keep the line and the value of each pair in `sources`.
  bool keep_sources = true;
};

/// Where a pair stands in the association file, and the text of its third
/// field (a delimited table's third column, the cell of an incidence matrix),
/// unparsed; empty when there is none.
struct assoc_source {
  ordered_assocs::const_iterator pair;
  std::int64_t line = 0;
  std::string value;
};

/// The associations of a table.
struct resolved_assocs {
  ordered_assocs assocs;
  /// One per pair of `assocs`, in file order (the iterators stay valid when
  /// the whole result is moved).
  std::vector<assoc_source> sources;
  /// Further words after a pair, as read_assoc notes them.
  assoc_notes notes;
  /// What was read otherwise than the plain pairs of words would be, one
  /// text each, with the file (and line) first and no program name: for the
  /// caller's notices.
  std::vector<std::string> notices;
  /// Pairs passed over because the data file lacks their associate.
  std::int64_t unknown_pairs = 0;
};

/// The associations of `table`. With `taxa` (the data file's labels, PHYLIP
/// padding taken off), the first pair is read as a header when its associate
/// is no label while another pair's is; an associate that is no label but
/// equals exactly one label when "_" and blank count as the same is read as
/// that label; the orientation of an incidence matrix is the one whose
/// associate side holds the larger share of labels; pairs whose associate is
/// no label are passed over with options.pass_unknown, else "Unknown
/// parasite: " and the first such label in host-then-associate order go to
/// `err` and constraint_error "no element available because key not in map"
/// says in its detail where the name stands and which option passes over it.
/// Without `taxa`, the pairs are taken as read, as read_assoc does.
/// Failures, with the line set on the error: constraint_error "attempt to
/// insert element already in set" for a pair met before; end_of_file_error
/// for a table of words ending in the middle of a pair (after every pair
/// before it has been checked); constraint_error for an incidence matrix
/// whose orientation neither `taxa` nor options.rows tells, and for a name
/// that several labels equal with "_" as blank.
resolved_assocs resolve_assocs(const assoc_table& table,
                               const sets::taxon_maps* taxa,
                               const assoc_resolve_options& options = {},
                               text_output& err = standard_error());

// ---------------------------------------------------------------------------
// Weights of pairs: an abundance or read count for each host-associate pair.

/// The weight of each pair, by the pair.
using assoc_weights =
    std::unordered_map<association, double, assoc_hash, assoc_equal>;

/// The weights of `res`'s pairs, read from the text after each pair's host
/// (res.sources, kept by resolve_assocs; `file` names the table in
/// messages): a non-negative decimal number ("3", "0.25", "1e6"). A pair of
/// weight 0 is removed from res.assocs and res.sources, and has no weight.
/// format_error, with the line set on the error and the file, line and pair
/// named in its detail, for a missing weight, one that is not a finite
/// number, a negative one, or one above 1e100 (so that sums stay finite).
assoc_weights take_weights(resolved_assocs& res, const std::string& file);

// ---------------------------------------------------------------------------
// The numeric host map: host label -> rows of its associates, hosts in byte
// order of their labels.

using numeric_host_maps = std::map<std::string, sets::ordered_tax_nos, std::less<>>;

/// Adds every association's associate row to its host's set, in the set's
/// order. An associate missing from `taxa`: writes "Unknown parasite: " and
/// the label to `err`, then throws constraint_error "no element available
/// because key not in map"; what was entered before stays.
void to_numeric_host_map(numeric_host_maps& map, const ordered_assocs& assocs,
                         const sets::taxon_maps& taxa,
                         text_output& err = standard_error());

/// Removes every host with fewer than `minimum` associates, in host order,
/// writing "WARNING: Removing host <label> (# associates below threshold)"
/// to `err` for each.
void filter(numeric_host_maps& map, std::int32_t minimum,
            text_output& err = standard_error());

// ---------------------------------------------------------------------------
// Entropy and modal values. Symbols are taken in increasing code order.

/// Maximum entropies by group size, indexed from 1.
using ent_val_type = std::vector<float>;
/// Counts, one per distinct symbol.
using char_freq_type = std::vector<std::int32_t>;

/// Shannon entropy (nats) of the symbols of s, in single precision:
/// p := count / length, H := H - ln(p) * p, each step rounded to float,
/// symbols summed in increasing code order. 0.0 for one distinct symbol;
/// constraint_error for an empty string.
float entropy(std::string_view s);
/// result[i-1] := entropy of the first i symbols of the members of `states`
/// repeated in code order, for i = 1..result.size(). constraint_error for an
/// empty set of states.
void max_entropy(ent_val_type& result, const char_set& states);
/// The most frequent symbols of s in code order, all of them when they tie;
/// s itself when it holds one distinct symbol. constraint_error when empty.
std::string modal_values(std::string_view s);

// ---------------------------------------------------------------------------
// Group characters.

/// Shapes of the result and associate matrices that fit no formula.
class matrix_error : public error {
 public:
  using error::error;
  const char* kind() const noexcept override { return "matrix_error"; }
};

/// The nucleotide ambiguity codes, filled once before main runs.
extern const sets::charset_maps& nuc_amb;

/// The formulas of a host row, in the order of their literals.
enum class formula_type : std::uint8_t {
  GROUP_SIZE,
  CONSENSUS,
  MODUS,
  ENTROPY,
  FREQUENCIES
};

/// A share of the associates, num / den (0 < num <= den), kept as the
/// fraction given so that "0.3" of ten associates is exactly three.
struct fraction_type {
  std::uint64_t num = 1;
  std::uint64_t den = 1;
  friend bool operator==(const fraction_type&, const fraction_type&) = default;
};

/// One analysis of the associates of each host, chosen once: its formula,
/// the alphabet of the cells and its valid states, and from them the shape
/// of a host row. Only symbols in the valid states count; a set of them
/// becomes the alphabet's code.
///
/// Two rules of a site come with it. The minimum: a site where fewer than
/// minimum() associates of a host have a state is undefined for every
/// formula ("?", -99.0). The threshold of a consensus: the states are taken
/// from the most frequent down until together they account for at least
/// threshold() of the associates with a state there, every state tied with
/// the last one taken too, and the code of that set is the cell (with the
/// gap rules of the alphabet). The defaults (1 and all of them) are the
/// plain rules: a consensus of every state met.
class analysis_type {
 public:
  /// Over nucleotides, with any valid states (nuc_set, or gapped_nuc_set
  /// to count gaps as states; a set holding a symbol outside a, c, g, t
  /// and "-" has no code).
  analysis_type(formula_type formula, const char_set& valid_states)
      : formula_(formula),
        alphabet_(alphabet_type::dna()),
        valid_states_(valid_states) {}
  /// Over the states of `alphabet`, and the gap with `gaps`.
  analysis_type(formula_type formula, const alphabet_type& alphabet, bool gaps)
      : formula_(formula),
        alphabet_(alphabet),
        valid_states_(alphabet.valid_states(gaps)) {}
  /// The analysis that a result of this shape asks for: CNTCH with one
  /// column: GROUP_SIZE; DISCR as wide as `chars`: CONSENSUS, or MODUS when
  /// modal_only; QUANT as wide: ENTROPY; QUANT as wide times the number of
  /// valid states: FREQUENCIES. matrix_error for a non-DISCR `chars` or a
  /// shape that fits none.
  static analysis_type of_shape(const char_mat_type& result,
                                const char_mat_type& chars,
                                const char_set& valid_states, bool modal_only);

  formula_type formula() const noexcept { return formula_; }
  /// The same analysis (alphabet, valid states, threshold, minimum) with
  /// another formula.
  analysis_type with_formula(formula_type formula) const {
    analysis_type a = *this;
    a.formula_ = formula;
    return a;
  }
  /// The consensus threshold: range_error unless 0 < share <= 1 (num and
  /// den below 2^32). Read by CONSENSUS only.
  analysis_type& with_threshold(fraction_type share);
  /// The fewest associates with a state that define a site: range_error
  /// below 1.
  analysis_type& with_minimum(std::uint32_t minimum);
  const fraction_type& threshold() const noexcept { return threshold_; }
  std::uint32_t minimum() const noexcept { return minimum_; }
  /// Whether a consensus takes every state met (the threshold is 1).
  bool takes_all_states() const noexcept {
    return threshold_.num == threshold_.den;
  }
  /// Whether the site rule is the plain one: no minimum above 1, and a
  /// consensus of every state met.
  bool plain_site_rule() const noexcept {
    return minimum_ <= 1 && takes_all_states();
  }
  /// Each valid state in code order as its code alone is written ("a",
  /// "-" for the gap, a protein's "A"; a state outside the alphabet as
  /// itself): the names of the columns that count or weigh the states.
  std::vector<std::string> state_names() const;
  /// Formula, alphabet, valid states, threshold and minimum alike.
  friend bool operator==(const analysis_type& a,
                         const analysis_type& b) noexcept;
  const alphabet_type& alphabet() const noexcept { return alphabet_; }
  const char_set& valid_states() const noexcept { return valid_states_; }
  /// CNTCH for group sizes, DISCR for the consensus codes, QUANT otherwise.
  matrix_type cell_type() const noexcept;
  /// Host-matrix columns per associate site: the number of valid states for
  /// FREQUENCIES, 1 otherwise (GROUP_SIZE has one column in all).
  std::int32_t columns_per_site() const noexcept;
  /// Host-matrix columns for `nchar` associate sites: 1 for GROUP_SIZE.
  /// range_error when they exceed 1048576.
  std::int32_t columns(std::int32_t nchar) const;
  /// The same for a host matrix that is written and never held
  /// (write_host_matrix): range_error only when they do not fit 32 bits.
  std::int32_t written_columns(std::int32_t nchar) const;
  /// Whether a host row carries its group size as its row comment (every
  /// formula but GROUP_SIZE).
  bool has_row_comments() const noexcept {
    return formula_ != formula_type::GROUP_SIZE;
  }
  /// Undefined cells: "?" in DISCR rows, -99.0 in QUANT rows.
  static constexpr char undefined_char = '?';
  static constexpr float undefined_real = -99.0f;

 private:
  formula_type formula_;
  alphabet_type alphabet_;
  char_set valid_states_;
  fraction_type threshold_{};
  std::uint32_t minimum_ = 1;
};

namespace detail {
struct site_rule;
class kernel_scratch;
}  // namespace detail

class group_folds;

/// The associates' rows as the engine reads them: row r (1 to count()) holds
/// nchar() cells, stored as the readers store them. A view: the cells
/// belong to a matrix or a store that outlives it.
class associate_rows {
 public:
  /// Every row of a DISCR matrix (matrix_error for another type); none of
  /// another (for group sizes, which need no cells).
  associate_rows(const char_mat_type& chars);  // NOLINT: a matrix is rows
  /// The rows at `rows` (row r at rows[r - 1]) of nchar cells.
  associate_rows(std::vector<const char*> rows, std::int32_t nchar);
  /// `count` rows of nchar cells that were folded as they were read, none
  /// of them kept.
  static associate_rows folded(std::int32_t count, std::int32_t nchar);

  std::int32_t count() const noexcept { return count_; }
  std::int32_t nchar() const noexcept { return nchar_; }
  /// Whether the cells are kept (not folded).
  bool stored() const noexcept { return !rows_.empty(); }
  /// Row r's cells, 1 <= r <= count(), of stored rows.
  const char* row(std::int32_t r) const {
    return rows_[static_cast<std::size_t>(r - 1)];
  }

 private:
  associate_rows() = default;
  std::vector<const char*> rows_;
  std::int32_t count_ = 0, nchar_ = 0;
};

/// Computes host rows of one analysis over one associate matrix, a stretch
/// of sites at a time, without a host matrix: select() a host's group, then
/// compute() any stretch of its row into memory of the analysis' cell type
/// (columns_per_site() cells per site; for GROUP_SIZE the one count). Each
/// engine has scratch memory of its own, so every thread needs one; engines
/// made from one `shared_rule` share its tables.
class group_engine {
 public:
  /// The tables an analysis needs over an associate matrix of `max_group`
  /// rows (consensus codes, maximum entropies), computed once.
  using shared_rule = std::shared_ptr<const detail::site_rule>;
  static shared_rule make_rule(const analysis_type& analysis,
                               std::int32_t max_group);

  /// matrix_error for a non-DISCR `chars`. `chars` must outlive the engine.
  group_engine(const analysis_type& analysis, const char_mat_type& chars);
  group_engine(const analysis_type& analysis, const char_mat_type& chars,
               shared_rule rule);
  /// Over any associates' rows, whose cells must outlive the engine.
  group_engine(const analysis_type& analysis, associate_rows rows,
               shared_rule rule);
  ~group_engine();
  group_engine(const group_engine&) = delete;
  group_engine& operator=(const group_engine&) = delete;

  const analysis_type& analysis() const noexcept { return analysis_; }
  /// The host whose row compute() fills: its associates' rows of `chars`.
  /// constraint_error "index check failed" for a row outside `chars`.
  void select(const sets::ordered_tax_nos& group);
  /// Sites first..first+count-1 (0-based) of the selected host's row, into
  /// out[0 .. count * columns_per_site()). The overload must match the cell
  /// type (else matrix_error). constraint_error "no element available
  /// because key not in map" when a consensus meets a set of states without
  /// an ambiguity code; the cells before it are written. A code that is a
  /// polymorphism (several states of standard characters) is written "?".
  void compute(std::size_t first, std::size_t count, char* out);
  /// The same, appending each polymorphism's place (0-based from `first`,
  /// ascending) and states to `polymorphisms`, for layouts that can write
  /// it.
  void compute(std::size_t first, std::size_t count, char* out,
               std::vector<polymorphic_cell>& polymorphisms);
  void compute(std::size_t first, std::size_t count, float* out);
  /// The group size.
  void compute(std::size_t first, std::size_t count, std::int32_t* out);
  /// The same for host `host` of `folds` instead of the selected rows: the
  /// cells its folded rows give, alike to the last bit. matrix_error when
  /// the folds are of another analysis.
  void compute(const group_folds& folds, std::size_t host, std::size_t first,
               std::size_t count, char* out);
  void compute(const group_folds& folds, std::size_t host, std::size_t first,
               std::size_t count, char* out,
               std::vector<polymorphic_cell>& polymorphisms);
  void compute(const group_folds& folds, std::size_t host, std::size_t first,
               std::size_t count, float* out);
  /// How many of the selected host's associates have each valid state at
  /// sites first..first+count-1 (0-based): state s (in code order) of site
  /// first + j at out[s * count + j], for any formula.
  void count_states(std::size_t first, std::size_t count, std::uint32_t* out);

 private:
  void compute_folded(const group_folds& folds, std::size_t host,
                      std::size_t first, std::size_t count, char* dout,
                      float* qout, std::vector<polymorphic_cell>* poly);
  void compute_cells(std::size_t first, std::size_t count, char* dout,
                     float* qout, std::vector<polymorphic_cell>* poly);
  analysis_type analysis_;
  associate_rows chars_;
  std::size_t selected_ = 0;  // the selected host's associates
  shared_rule rule_;
  std::unique_ptr<detail::kernel_scratch> scratch_;
  std::vector<const char*> rows_;
};

/// Host rows built while the associate rows are read, without the associate
/// matrix, for the analyses that need no more of a site than the states
/// met there (all but group sizes): fold() adds an associate row to a
/// host's accumulator (a bit per state and site that says whether the state
/// was met, for CONSENSUS and for MODUS hosts said to have at most two
/// associations, whose modal values are the states met, and of more than
/// eight states four bytes a site; else a counter per state and site, of a
/// byte, or of four or two bits for hosts said to be small), and any
/// stretch of the host's row is then finished into the cells group_engine
/// gives for the group of the rows folded, failures included: by compute()
/// for codes, by group_engine::compute(folds, ...) for every analysis.
class group_folds {
 public:
  /// Whether the analysis can be folded: any but GROUP_SIZE, with one to
  /// 32 valid states.
  static bool can_fold(const analysis_type& analysis) noexcept;
  /// The accumulator bytes of `hosts` hosts over `nchar` sites: an eighth
  /// of a byte a state and site (rounded up to whole bytes a state) for
  /// CONSENSUS (of more than eight states, four bytes a site), a byte a
  /// state and site for the others; a counting host of more than 255
  /// associates takes two more a state and site.
  static std::size_t bytes(const analysis_type& analysis, std::size_t hosts,
                           std::size_t nchar) noexcept;
  /// The same for hosts of at most sizes[h] associates each: a MODUS host
  /// of at most 2 takes an eighth of a byte a state and site, as CONSENSUS
  /// does; a counting host of at most 3 a quarter, of at most 15 half a byte
  /// (2-bit and 4-bit counters).
  static std::size_t bytes(const analysis_type& analysis,
                           std::span<const std::size_t> sizes,
                           std::size_t nchar) noexcept;
  /// Accumulators of `hosts` hosts (numbered from 0) over `nchar` sites,
  /// nothing folded yet. constraint_error when the analysis cannot be
  /// folded.
  group_folds(const analysis_type& analysis, std::size_t hosts,
              std::size_t nchar);
  /// The same for hosts of at most sizes[h] associates each, laid out as
  /// bytes() says. A counting host given more rows still folds them
  /// correctly; a MODUS host said to have at most 2, which keeps only the
  /// states met, refuses a third row with constraint_error.
  group_folds(const analysis_type& analysis, std::span<const std::size_t> sizes,
              std::size_t nchar);
  ~group_folds();
  group_folds(const group_folds&) = delete;
  group_folds& operator=(const group_folds&) = delete;

  std::size_t hosts() const noexcept { return hosts_; }
  /// The accumulators' memory, fresh until rows are folded into it.
  std::span<std::uint8_t> memory() noexcept {
    return {acc_.get(), offset_.back()};
  }
  /// Rows of one host that fold together at best: each accumulator block is
  /// then loaded and stored once for all of them.
  static constexpr std::size_t rows_at_once = 8;
  /// Folds associate rows, nchar cells each as the readers store them, into
  /// `host`: the same as one row after the other, with less work on the
  /// accumulator the more rows come at once. constraint_error, nothing
  /// folded, for a host outside 0..hosts()-1 or more rows than a MODUS host
  /// said to have at most 2 takes.
  void fold(std::size_t host, std::span<const char* const> rows);
  void fold(std::size_t host, const char* row) { fold(host, {&row, 1}); }
  /// Sites first..first+count-1 (0-based) of the host's row as consensus
  /// codes, as group_engine::compute writes them (CONSENSUS and MODUS;
  /// matrix_error for the others), polymorphisms included when asked for.
  void compute(std::size_t host, std::size_t first, std::size_t count,
               char* out,
               std::vector<polymorphic_cell>* polymorphisms = nullptr) const;
  /// The counts of the host's states at sites first..first+count-1, laid
  /// out as group_engine::count_states gives them. matrix_error for a host
  /// whose accumulator keeps only the states met (a CONSENSUS or a small
  /// MODUS host of the plain site rule); constraint_error for a host or
  /// sites outside the folds.
  void count_states(std::size_t host, std::size_t first, std::size_t count,
                    std::uint32_t* out) const;

 private:
  friend class group_engine;
  // The cells of the stretch by `rule` (this analysis's, with the tables of
  // the engine that asks), into dout or qout.
  void finish(const detail::site_rule& rule, detail::kernel_scratch& scratch,
              std::size_t host, std::size_t first, std::size_t count,
              char* dout, float* qout,
              std::vector<polymorphic_cell>* poly) const;
  // A host's accumulator bytes, as bytes() counts them.
  static std::size_t host_bytes(const analysis_type& analysis,
                                std::size_t size, std::size_t nchar) noexcept;
  std::shared_ptr<const detail::site_rule> rule_;
  std::size_t hosts_, nchar_;
  std::vector<std::size_t> offset_;  // host h's bytes from acc_ + offset_[h]
  std::unique_ptr<std::uint8_t[], free_memory> acc_;
  std::vector<std::uint8_t> fresh_;  // host h's bytes never touched yet
  // The bits of a host's counters (1, 2, 4 or 8, by formula and size), the
  // rows they hold now (of 1-bit ones: only for MODUS), and the 16-bit
  // totals they are moved into when full (wide_[h][s * nchar + j]).
  std::vector<std::uint8_t> bits_, folded_;
  std::vector<std::vector<std::uint16_t>> wide_;
};

/// Fills `result` with one row per host of `hosts`, in map order, for the
/// analysis analysis_type::of_shape gives (matrix_error, nothing written,
/// when none fits). Labels are the host labels; row comments get the group
/// size as integer_image (not for group sizes). constraint_error "Position
/// cursor of function Key equals No_Element" when result has more rows than
/// the map has hosts (the rows before stay filled).
void get_group_chars(char_mat_type& result, const char_mat_type& chars,
                     const numeric_host_maps& hosts,
                     const char_set& valid_states, bool modal_only);
/// The same for `analysis` over any alphabet: matrix_error, nothing
/// written, when `chars` is not DISCR or result's cell type and width are
/// not the analysis's.
void get_group_chars(char_mat_type& result, const char_mat_type& chars,
                     const numeric_host_maps& hosts,
                     const analysis_type& analysis);

namespace detail {
/// The straightforward computation, cell by cell from group strings through
/// entropy, modal_values and the alphabet's codes (nuc_amb's for
/// nucleotides): the reference that the engine is tested and measured
/// against.
void fill_rows_plain(char_mat_type& result, const char_mat_type& chars,
                     const numeric_host_maps& hosts,
                     const char_set& valid_states, bool modal_only);
/// With `polymorphisms`, each polymorphism ("?" in result) is appended
/// there, its site counted over the cells of result row by row from 0.
void fill_rows_plain(char_mat_type& result, const char_mat_type& chars,
                     const numeric_host_maps& hosts,
                     const analysis_type& analysis,
                     std::vector<polymorphic_cell>* polymorphisms = nullptr);
/// The same for weighted groups, each cell from the associates' cells and
/// weights at the site (host i of the map order weighs its group's rows by
/// weights[i - 1], in the group's order), as weighted_engine defines the
/// formulas: the reference of the weighted path. GROUP_SIZE counts the
/// associates.
void fill_rows_weighted_plain(
    char_mat_type& result, const char_mat_type& chars,
    const numeric_host_maps& hosts,
    const std::vector<std::vector<double>>& weights,
    const analysis_type& analysis,
    std::vector<polymorphic_cell>* polymorphisms = nullptr);
}  // namespace detail

// ---------------------------------------------------------------------------
// Writing the host matrix.

/// What a host matrix is made of, for write_host_matrix.
struct host_matrix_job {
  associate_rows chars;              // the associates (a DISCR matrix)
  const numeric_host_maps& hosts;    // one row per host
  analysis_type analysis;
  std::string comment;  // the matrix comment
  char_format_type layout;
  /// The host rows folded while the associates were read, in place of
  /// computing them from `chars`, which then holds the labels only: host i
  /// of the map order is host fold_hosts[i] of the folds (host i when
  /// fold_hosts is null).
  const group_folds* folds = nullptr;
  const std::vector<std::size_t>* fold_hosts = nullptr;
  /// The tidy table instead of the host matrix (layout and formula unused;
  /// folds, when given, must count: see write_host_matrix).
  bool tidy = false;
  /// The weights of each host's associates, host i of the map order at
  /// (*weights)[i], one a row of its group in the group's order: the
  /// states of a site are then weighed instead of counted (see
  /// detail::weighted_engine); the group size stays the number of
  /// associates. Needs stored rows (matrix_error for folded ones) and one
  /// entry a host (constraint_error otherwise), both before anything is
  /// written.
  const std::vector<std::vector<double>>* weights = nullptr;
};

/// Computes the host matrix and writes it to `out` without ever holding it:
/// each host row is computed a stretch of sites at a time and written, then
/// the next, in map order. With `threads` above 1 that many threads compute
/// and format stretches ahead while the text goes out in order; the bytes
/// are the same for every thread count, failures included (the text before
/// a failure is written, then it propagates). range_error for an empty host
/// label (not in PHYLIP) before anything is written. Threads that the
/// system will not start leave their work to the others; returns how many
/// of the threads the run would have used could not be started (0 as a
/// rule). Host cells of standard characters with several states are
/// written as polymorphisms ({01}) in the NEXUS layouts and as "?" in the
/// others, which are counted.
struct host_matrix_report {
  std::int32_t threads_not_started = 0;
  std::int64_t missing_polymorphisms = 0;
};
host_matrix_report write_host_matrix(const host_matrix_job& job,
                                     std::int32_t threads, text_output& out);

// With job.tidy, the tidy table: TAB-separated text that R's read.delim and
// pandas' read_csv(sep="\t") take without options. A header line, "host",
// "associates", "site", "n", one column per valid state in code order named
// by its code ("a", "c", "g", "t"; "-" for the gap; a protein's upper-case
// letters), "consensus", "modal", "entropy"; then one line per host and
// site: the host label (in double quotes, inner ones doubled, when it holds
// one), its group size, the site from 1, the associates with a state there,
// how many have each state, the consensus code of the analysis' threshold,
// the modal code and the entropy, all under the analysis' minimum. An
// undefined value and a code that stands for no state ("?") are NA; a
// polymorphism of standard characters is its states in braces ("{01}");
// entropies are written with six significant digits, as printf's "%.6g".
// Every formula of the analysis at once; hosts in map order.

/// Writes the 0/1 incidence matrix of `hosts` and their associates as a
/// TAB-separated table with a header row: an empty first cell, then the
/// labels of the associates (labels[r - 1] for each row r met in any host,
/// in row order); then a line per host, its label and a 1 or 0 per associate.
/// R's read.table(header = TRUE, row.names = 1, sep = "\t",
/// check.names = FALSE) reads it as hosts x associates.
void write_incidence_matrix(const numeric_host_maps& hosts,
                            const std::vector<std::string>& labels,
                            text_output& out);

// ---------------------------------------------------------------------------
// A run: from a data file and an association file to the host matrix.

/// What a run reads and computes, fixed before it starts.
struct run_options {
  analysis_type analysis{formula_type::GROUP_SIZE, nuc_set};
  /// Label layout of PHYLIP data files: PHYLIP (ten characters, matched
  /// without their padding), EXTENDED_PHYLIP or COMMENTED_PHYLIP.
  char_format_type input_layout = char_format_type::EXTENDED_PHYLIP;
  /// PHYLIP data in interleaved blocks.
  bool interleaved = false;
  char_format_type output_layout = char_format_type::EXTENDED_PHYLIP;
  /// Hosts with fewer associates are removed, with a warning.
  std::int32_t min_group_size = 2;
  /// Threads that compute and format host rows (at least 1).
  std::int32_t threads = 1;
  /// Whether rows may be folded into their hosts as they are read (the
  /// association file read first), never storing the associate matrix;
  /// false keeps the plain order, for tests that compare the two.
  bool fold = true;
  /// How the association file's names meet the data file's labels
  /// (associates it lacks passed over or refused, ...).
  assoc_resolve_options assoc{};
  /// Write the tidy table of every formula (write_host_matrix's job.tidy)
  /// instead of the host matrix of analysis' formula; the analysis then
  /// gives the alphabet, valid states, threshold and minimum.
  bool tidy_table = false;
  /// Whether the data file chooses the alphabet of `analysis` (its formula
  /// and gaps kept): a NEXUS DATATYPE, else what most of its cells are
  /// (alphabet_sample::guess). Otherwise the alphabet is the analysis'.
  bool choose_alphabet = false;
  /// Whether each pair of the association file carries a weight after its
  /// host (take_weights), by which the states of a site are weighed; the
  /// rows are then stored, never folded. Without it the text after the
  /// host is passed over.
  bool weights = false;
};

/// How the run's alphabet was chosen, and what the cells said of it.
struct alphabet_choice {
  enum class by_type : std::uint8_t { GIVEN, DATATYPE, CONTENT };
  alphabet_kind_type kind = alphabet_kind_type::DNA;
  by_type by = by_type::GIVEN;
  /// The share (0..100) of the cells sampled that are not missing data and
  /// are letters outside the nucleotide codes, and that are digits; -1 when
  /// no sample was taken.
  int foreign_percent = -1;
  int digit_percent = -1;
};

namespace detail {
struct run_state;
}

/// One run, stage by stage, so that a program can say its notices between
/// the stages: read_data, read_associations, group, write, in this order.
/// The files are named as on a command line ("-": standard input; one
/// reader of standard input serves both, the associations following the
/// matrix). The run owns its inputs while it lives, so that a failure can
/// be placed in the file and line being read (place()). Every stage throws
/// the failures of the readers and collections it calls; nothing is
/// written to standard output before write().
class host_run {
 public:
  /// `standard_input` stands for "-" (the process's standard input when
  /// null). open_error, before anything is read, when the two files are one
  /// pipe, socket or terminal other than "-" twice (the association file
  /// would wait for text the data file took).
  host_run(const run_options& options, std::string data_file,
           std::string assoc_file,
           read::text_input* standard_input = nullptr);
  ~host_run();
  host_run(const host_run&) = delete;
  host_run& operator=(const host_run&) = delete;

  /// Reads the data file. When rows can be folded as they are read, the
  /// association file is read first; its failure is kept and raised by
  /// read_associations, so that a bad data file reports its own first.
  /// end_of_file_error "the data file is empty" for an empty one. Returns
  /// what the reader passed over.
  const read::data_notes& read_data();
  /// The matrix's taxon count, once the data file is read.
  std::int32_t data_rows() const;
  /// The alphabet the run reads the cells in, and how it was chosen.
  const alphabet_choice& alphabet() const noexcept;
  /// Host cells with several states that the layout could not hold as a
  /// polymorphism and wrote as "?" (standard characters in the PHYLIP
  /// layouts), once write() has run.
  std::int64_t missing_polymorphisms() const noexcept;
  /// Reads the association file (or raises the failure of reading it
  /// first) and resolves its names against the data file's labels
  /// (resolve_assocs). end_of_file_error when it holds no pair. Returns
  /// what was passed over and the notices of how the table was read (the
  /// associations themselves stay in the run, for group(): `assocs` and
  /// `sources` are empty); a failure to resolve (an associate the data file
  /// lacks) is raised by group(), after the caller's notices.
  const resolved_assocs& read_associations();
  /// Groups the associates by host and removes the hosts below the minimum,
  /// writing "Unknown parasite: " and "WARNING: Removing host " lines to
  /// `err`. range_error when no host, or more than 5000, remain.
  const numeric_host_maps& group(text_output& err);
  /// Writes the host matrix to `out`; returns the threads that could not be
  /// started (0 as a rule). Releases the associate matrix.
  std::int32_t write(text_output& out);
  /// Writes, instead of the host matrix, the incidence matrix of the hosts
  /// kept and their associates (write_incidence_matrix).
  void write_incidence(text_output& out);
  /// The input being read when the last failure happened, and its line.
  failure_place place() const;
  /// How far read_data has come, for a display on another thread while it
  /// runs.
  const read::read_progress& progress() const noexcept;

 private:
  std::unique_ptr<detail::run_state> state_;
};

// ---------------------------------------------------------------------------
// Host-wise distances.

/// How the distance of two hosts follows from the distances of their
/// associates: the smallest, the mean or the largest over all pairs, or PBC,
/// the mean nearest-neighbour distance taken in both directions.
enum class dist_func_type : std::uint8_t { MIN, MEAN, MAX, PBC };

/// Fills R with the distances between the first R.ntax() hosts of `hosts`
/// (map order), computed in single precision from the associate distances D,
/// whose rows are the taxon numbers of the map. R gets the host labels, is
/// symmetric, and its diagonal is 0.0 under MIN and PBC and a host's distance
/// to itself under MEAN and MAX (the mean over all ordered pairs, an
/// associate with itself included). Minima start at the largest float, so a
/// minimum over finite distances is always one of them. Throws
/// constraint_error "index check failed" for a taxon number outside D,
/// constraint_error "Position cursor of function Key equals No_Element" when
/// the map has fewer hosts than R rows (extra hosts are ignored), range_error
/// when a sum of distances or a mean leaves 0.0 .. max_float. What was
/// written into R before a failure stays.
void get_pbc(dist_mat_type& R, const dist_mat_type& D,
             const numeric_host_maps& hosts, dist_func_type rule);

// ---------------------------------------------------------------------------
// Name-keyed host maps: associates grouped by host without a matrix, kept as
// labels.

/// Host label -> labels of its associates. Hashed, so without a useful
/// order; an ordered_taxa set of the host labels supplies one.
using host_maps = std::unordered_map<std::string, sets::ordered_taxa,
                                     sets::label_hash, std::equal_to<>>;

/// Adds the distinct host labels (HOST) or associate labels (PARA) of the
/// associations to `set`; labels already there are passed over.
void to_taxon_set(sets::ordered_taxa& set, const ordered_assocs& assocs,
                  assoc_part part);

/// Adds every association's associate label to its host's set, entering the
/// host when it is new. Does not clear `map`.
void to_host_map(host_maps& map, const ordered_assocs& assocs);

/// Walks `host_set` in order and removes from both it and `map` every host
/// with fewer than `minimum` associates, writing "WARNING: Removing host
/// <label> (# associates below threshold)" to `err` for each. A label
/// without an entry in `map` throws constraint_error "no element available
/// because key not in map" before any warning for it; removals made before
/// stay.
void filter(sets::ordered_taxa& host_set, host_maps& map,
            std::int32_t minimum, text_output& err = standard_error());

}  // namespace zurud::hostpara
