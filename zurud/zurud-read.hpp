// Reading the library's input files: the text-input model shared by every
// reader, words, labels, headers, and the matrix, distance and FASTA readers.
#pragma once
#include <cstddef>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <span>
#include <string_view>
#include <vector>

#include "zurud/zurud.hpp"

namespace zurud::read {

namespace detail {

/// A file descriptor, closed when an owning handle goes (standard input is
/// held without owning it).
class fd_handle {
 public:
  fd_handle() = default;
  fd_handle(int fd, bool owns) noexcept : fd_(fd), owns_(owns) {}
  fd_handle(fd_handle&& o) noexcept;
  fd_handle& operator=(fd_handle&& o) noexcept;
  ~fd_handle();
  int get() const noexcept { return fd_; }

 private:
  int fd_ = -1;
  bool owns_ = false;
};

/// A compressed stream being decoded; defined with the decoders.
class decoder;
struct decoder_deleter {
  void operator()(decoder* d) const noexcept;
};
/// Frees the page-aligned text buffer.
struct buffer_deleter {
  void operator()(char* p) const noexcept;
};
/// The thread that reads a file ahead of the text input; defined with it.
struct read_ahead_state;
struct read_ahead_deleter {
  void operator()(read_ahead_state* r) const noexcept;
};
/// The state of a row scan; defined with the scan kernels.
struct row_scan;

}  // namespace detail

/// How far a reader has come, for a display on another thread: the text
/// read so far, the file's own position and size (compressed bytes for
/// compressed input; -1 when unknown, as for a pipe), and the rows read
/// (kept by the caller's row sink).
struct read_progress {
  std::atomic<std::int64_t> text{0};
  std::atomic<std::int64_t> file{-1};
  std::atomic<std::int64_t> file_size{-1};
  std::atomic<std::int64_t> rows{0};
};

/// Sequential text input from a file, standard input or a string, through
/// one large buffer. Lines end at a line feed. An input whose first line end
/// is a carriage return that no line feed follows has carriage-return line
/// ends: there every such carriage return reads as a line feed. Every other
/// carriage return is an ordinary character (whitespace), so DOS files read
/// as Unix ones. A form feed directly after a line end is a page break
/// and is passed over wherever line ends are. Readers use only the primitive
/// operations below (and the row fast path, which obeys the same rules).
/// Input that starts with the magic bytes of gzip (1f 8b), zstd, xz or
/// bzip2, from any source, is decoded first (concatenated members or
/// streams included); what the readers see is the decoded text. A build
/// without the library a compression needs refuses such input with an
/// io_error naming it.
class text_input {
 public:
  /// Input from a copy of `text`; `name` is used in diagnostics.
  explicit text_input(std::string_view text, std::string name = "string");
  /// Opens `path` for reading. Throws open_error when it does not exist,
  /// cannot be read or is a folder.
  static text_input open(const std::string& path);
  /// The process's standard input. Each call makes a new reader: share one
  /// object when two readers must continue the same stream.
  static text_input standard_input();

  text_input(text_input&&) noexcept = default;
  text_input& operator=(text_input&&) noexcept = default;
  ~text_input() = default;

  /// Passes over line ends (and page breaks), then consumes and returns the
  /// next character. end_of_file_error when the input is exhausted.
  char read_char();
  /// True when the next character is a line feed or the input is exhausted.
  bool end_of_line();
  /// True when the input is exhausted, or only one line end (possibly
  /// followed by a page break) is left.
  bool end_of_input();
  /// True when nothing at all is left.
  bool exhausted();
  /// Consumes up to and including the next line end (and a page break after
  /// it); a last line without line feed counts as ended. end_of_file_error
  /// when the input is already exhausted.
  void skip_line();
  /// Passes over blanks, TABs, line ends and page breaks, then reads the
  /// longest text that can begin an optionally signed integer literal
  /// (digits with single underscores between them, based forms such as
  /// 16#FF#, exponents such as 1E3); the next character stays unread.
  /// format_error when the text is not such a literal, its value does not
  /// fit 32 bits or it is longer than max_word_len characters;
  /// end_of_file_error when nothing but blanks is left.
  std::int32_t read_integer();
  /// As read_integer, for an optionally signed real or integer literal (1,
  /// 1.5, .5, 1.5E-3, 16#F.8#); the value in double precision. A value
  /// beyond the double range is a format_error; one below it reads as zero.
  double read_real();
  /// The characters of the current line, at most `capacity` of them; the
  /// line end is consumed (with a page break after it) only when the whole
  /// line fitted, so a longer line leaves its rest unread.
  /// end_of_file_error when the input is exhausted.
  std::string read_line(std::size_t capacity);
  /// Fills dst[0..n) with the next n characters that are not whitespace,
  /// passing over every whitespace character and line end between them: the
  /// cells of a discrete matrix row. end_of_file_error when the input runs
  /// out first; the cells before that are stored.
  void read_black(char* dst, std::size_t n);
  /// As read_black, storing the image of each cell under `map`.
  void read_black(char* dst, std::size_t n, const char_mapping& map);
  /// As read_black, consuming the same characters but storing nothing.
  void skip_black(std::size_t n);
  /// Stores the characters of the current line that are not whitespace, at
  /// most n of them, mapped by `map`; the line end, and whatever follows the
  /// n-th character stored, stay unread. Returns the number stored (0 at a
  /// line end or at the end of the input). With dst null, stores nothing
  /// and counts the same characters.
  std::size_t read_black_in_line(char* dst, std::size_t n,
                                 const char_mapping& map = char_mapping());
  /// Passes over characters of `set` and line ends; true when nothing is
  /// left afterwards.
  bool skip_members(const char_set& set);
  /// At the very start of the input, passes over a UTF-8 byte order mark
  /// (EF BB BF); true when there was one.
  bool skip_byte_order_mark();

  /// The next characters of the current line that the buffer holds, up to
  /// (not including) its line end: empty at a line end or at the end of the
  /// input, otherwise at least one character. Consumes nothing; the view
  /// stays valid until the next operation on the input.
  std::string_view peek_line();
  /// Up to n (at most 4096) of the next characters, line ends included,
  /// fewer only at the end of the input. Consumes nothing; valid until the
  /// next operation.
  std::string_view peek(std::size_t n);
  /// Every character the buffer holds from the next one on, line ends
  /// included: at least one unless the input is exhausted. Consumes nothing;
  /// valid until the next operation.
  std::string_view peek_buffer();
  /// Consumes n characters of what peek_line, peek or peek_buffer just
  /// showed.
  void consume(std::size_t n) noexcept { pos_ += n; }

  /// The name given in diagnostics: a file name or "standard input".
  const std::string& name() const noexcept { return name_; }
  /// The 1-based number of the line holding the next unread character.
  std::int64_t line();
  /// The number of characters consumed since the start of the input.
  std::int64_t position() const noexcept {
    return origin_ + static_cast<std::int64_t>(pos_);
  }
  /// True when the input is decoded from a compressed stream.
  bool decoding() const noexcept { return decoder_ != nullptr; }
  /// From now on, each buffer of text read is reported in `progress` (null:
  /// no longer), which another thread may read; the file's size first,
  /// when it is a regular file.
  void report_to(read_progress* progress);
  /// Threads that may decode a gzip file of BGZF blocks (as bgzip writes
  /// them) ahead of the reader; 1, the default, decodes on the reading
  /// thread only. Takes effect when called before the first read.
  void decoder_threads(unsigned n) noexcept { decoder_threads_ = n; }
  /// From now on, when the input is a regular file read without gzip, a
  /// second thread reads the next buffer of it while this one is used, so
  /// the kernel's copy overlaps the scan. What is read, and every result and
  /// failure, stay the same; a failed read is reported where it would be.
  void read_ahead() noexcept { ahead_wanted_ = true; }

 private:
  text_input(int fd, std::string name, bool owns_fd);
  /// Makes at least `want` characters available from pos_ unless the input
  /// ends first; returns the number available.
  std::size_t fill(std::size_t want);
  bool more() { return pos_ < end_ || fill(1) > 0; }
  /// Moves the unread rest so that the next read lands on a 64-byte
  /// boundary.
  void compact();
  /// Counts the line feeds up to pos_, before a row scan that counts its
  /// own; scanned() then takes the scan's position and line feeds.
  void count_lines_so_far();
  void scanned(read::detail::row_scan& s);
  /// Raw bytes from the file or the decoder into buf_ + end_; 0 at the
  /// end.
  std::size_t refill(std::size_t room);
  /// refill through the read-ahead thread: takes the buffer it filled.
  std::size_t refill_ahead();
  void pass_page_break();
  /// Turns the lone carriage returns of buf_[from, end_) into line feeds
  /// when the input's line ends are carriage returns.
  void mend_line_ends(std::size_t from);
  struct literal_scan;  // the number grammar
  [[noreturn]] void eof(const char* what) const;

  detail::fd_handle file_;
  std::unique_ptr<detail::decoder, detail::decoder_deleter> decoder_;
  bool probed_ = false;  // whether the first bytes were checked for magic
  unsigned decoder_threads_ = 1;
  bool at_eof_ = false;
  // What ends lines, told by the first line end.
  enum class line_ends : std::uint8_t { UNKNOWN, LINE_FEED, CARRIAGE_RETURN };
  line_ends ends_ = line_ends::UNKNOWN;
  bool cr_pending_ = false;  // the last character is a CR made a line feed
  std::string name_;
  std::unique_ptr<char[], detail::buffer_deleter> buf_;
  std::size_t cap_ = 0;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  std::size_t counted_ = 0;  // buf_[0..counted_) has been counted in lines_
  std::int64_t lines_ = 0;   // line feeds before buf_ + counted_
  std::int64_t origin_ = 0;  // stream position of buf_[0]
  bool ahead_wanted_ = false;
  read_progress* progress_ = nullptr;
  void report();
  // Last, so that its thread stops before the file and buffers go.
  std::unique_ptr<detail::read_ahead_state, detail::read_ahead_deleter> ahead_;
};

/// A failure in one line for people: "kind: message[: detail]", and
/// " (name, line n)" when it happened while `reading` was being read.
std::string describe(const error& e, text_input* reading = nullptr);

/// Where a failure happened while `reading` was being read (nothing when it
/// is null), for failure_line.
failure_place place_of(text_input* reading);

/// Reads a word: leading delimiters and line ends are skipped; the word runs
/// until a delimiter (consumed) or the end of its line (not consumed), so it
/// never spans two lines. end_of_file_error when the input ends before it;
/// long_word_error when it grows past max_word_len characters.
std::string get_word(text_input& in, const char_set& delimiters);
/// The header line of a TAB distance matrix, whole (CR LF's CR kept):
/// format_error when it is longer than 5000 labels of max_word_len
/// characters can be, so that an endless line fails in bounded memory.
std::string read_tab_header(text_input& in);
/// The format_error of a word that grows past max_word_len characters,
/// quoting its start.
format_error long_word_error(std::string_view word);
/// Reads a word as get_word and discards it.
void skip_word(text_input& in, const char_set& delimiters);
/// The first character read that is not a delimiter (line ends passed over).
char get_black(text_input& in, const char_set& delimiters);
/// Appends to `target` every character of `source` that is not a delimiter.
void append_black(std::string& target, std::string_view source,
                  const char_set& delimiters);
/// The characters of `source` that are not delimiters, in order.
std::string black_only(std::string_view source, const char_set& delimiters);

/// One taxon label. PHYLIP: exactly ten characters, blanks included, line
/// ends not counted. EXTENDED_PHYLIP: the first word (whitespace-delimited).
/// COMMENTED_PHYLIP: the first word; the next word, the row's comment, is
/// read and discarded. TAB_SEPARATED: a word delimited by control characters,
/// so it may hold blanks.
std::string read_label(text_input& in, label_format_type layout);

/// Counts of a character matrix.
struct header_type {
  std::int32_t ntax;
  std::int32_t nchar;
  friend bool operator==(const header_type&, const header_type&) = default;
};

/// Reads the taxon count (1..5000) and the character count (1..1048576),
/// then skips the rest of the line. range_error outside those ranges,
/// format_error for text first, end_of_file_error on an exhausted input.
header_type read_header(text_input& in);

/// The taxon count of a distance matrix (1..5000, else range_error). TAB:
/// the number of TABs on the whole first line (the column labels); other
/// layouts: an integer, then the rest of the line is skipped.
std::int32_t read_dist_header(text_input& in, dist_format_type layout);

/// The label layout that rows of a character matrix file use.
label_format_type label_layout(char_format_type layout);

/// Fills the labels and cells of `matrix` (already sized by the caller from
/// read_header) from the rows of `in`: per row a label in the layout's label
/// layout, then nchar cells of the matrix's type, then the rest of the last
/// cell's line is skipped (the end of the input also ends it). DISCR cells
/// are the next characters that are not whitespace; QUANT cells are reals;
/// CNTCH cells are integers >= 0 (range_error below). Failures propagate with
/// the row named in their detail; the matrix is left partly filled.
void read_char_mat(text_input& in, char_format_type layout,
                   char_mat_type& matrix);
/// As read_char_mat, storing the image of each DISCR cell under `map`: the
/// same as read_char_mat followed by print::convert_chars, in one pass.
void read_char_mat(text_input& in, char_format_type layout,
                   char_mat_type& matrix, const char_mapping& map);
/// As read_char_mat, but DISCR cells are only consumed, never stored: the
/// input is read and checked exactly as read_char_mat does, with the same
/// failures, and the labels are filled; the cells stay as they were. For
/// callers that need the labels and the shape only.
void skim_char_mat(text_input& in, char_format_type layout,
                   char_mat_type& matrix);

// ---------------------------------------------------------------------------
// Data files as users hold them: PHYLIP (sequential or interleaved), FASTA
// and NEXUS, each possibly gzipped (text_input inflates it).

/// The formats of a data file, told apart by their first characters.
enum class data_format_type : std::uint8_t { PHYLIP, FASTA, NEXUS };

/// The format of what `in` holds, from its first character that is not
/// whitespace: ">" is FASTA, "#NEXUS" in any case is NEXUS, anything else is
/// PHYLIP. Passes over a byte order mark at the start of the input and
/// consumes nothing else.
data_format_type detect_data_format(text_input& in);

/// What a reader does with the DISCR cells it reads: stores each as its
/// image under `map` (an alphabet's cell_map for the analyses), or, with
/// `store` false, consumes and checks them as it would but stores nothing.
/// With `map_by_datatype`, a NEXUS matrix whose FORMAT declares a DATATYPE
/// of an alphabet (alphabet_type::of_datatype) is stored through that
/// alphabet's cell_map instead, so that a protein's U is not read as T.
struct cell_options {
  char_mapping map{};
  bool store = true;
  bool map_by_datatype = false;
  /// A set of states in braces or parentheses ({01}, (1,2): polymorphisms
  /// and uncertainties of standard characters) is one cell, stored as "?",
  /// in the rows that read_data_rows reads (NEXUS always reads them so).
  bool sets = false;
};

/// Fills the labels and cells of `matrix` (sized by the caller from
/// read_header) from interleaved rows: the first block holds, for every row
/// in order, its label in the layout's label layout and its first cells on
/// the rest of that line; each later block holds the next cells of every row
/// in the same order, one line per row, without labels. Blank lines between
/// blocks are optional, whitespace inside a line is passed over; after the
/// last cells of the last row the rest of that line is skipped.
/// format_error when a line would take a row past nchar cells or a row gets
/// no cells from a line of its block, end_of_file_error when the input ends
/// first; failures name the row and block.
void read_interleaved_char_mat(text_input& in, char_format_type layout,
                               char_mat_type& matrix,
                               const cell_options& cells = {});

/// Reads an aligned FASTA file to its end as a DISCR matrix, one row per
/// record in file order. A record's label is the first word of its header
/// line (the text after ">" up to whitespace); its cells are every
/// character of the lines up to the next header that is not whitespace, "."
/// stored as "-", the rest through cells.map. format_error for characters
/// before the first header, a header without a word, or a record whose
/// number of cells differs from the first record's (naming it and both
/// counts); range_error as soon as a record passes 1048576 cells or the
/// 5001st header is met, so that an endless input fails in bounded memory.
char_mat_access read_fasta_matrix(text_input& in,
                                  const cell_options& cells = {});

/// What the FORMAT command of a NEXUS matrix declares of its cells, as
/// written (empty when not given).
struct nexus_format_type {
  std::string datatype;  ///< DATATYPE ("DNA", "protein", "MIXED", ...)
  std::string symbols;   ///< SYMBOLS, without its quotes ("0 1 2")
};

/// Reads the DATA or CHARACTERS block of a NEXUS file as a DISCR matrix.
/// The input starts with #NEXUS (any case, after blanks or a byte order
/// mark); then blocks BEGIN name; ... END; (or ENDBLOCK;). The first DATA or
/// CHARACTERS block is read; a TAXA block before it may give NTAX and
/// TAXLABELS; other blocks are passed over whole. The reader stops after
/// the END; of the block read (and the rest of that line when it is
/// blank): whatever follows stays unread. [Comments], which nest, may stand
/// anywhere, also inside cells; keywords are in any case; "=" takes blanks
/// around it or none; values may be quoted.
/// - DIMENSIONS NTAX= NCHAR= (NEWTAXA accepted).
/// - FORMAT: DATATYPE DNA, RNA, NUCLEOTIDE, PROTEIN, STANDARD, RESTRICTION
///   or MIXED(...); MISSING=c (such cells stored as "?"; "?" is missing
///   when none is given), GAP=c (stored as "-"), MATCHCHAR=c (the cell of
///   the matrix's first row at that site), INTERLEAVE or INTERLEAVE=YES|NO;
///   RESPECTCASE, LABELS, NOTOKENS, NOTRANSPOSE, SYMBOLS=..., ITEMS=STATES
///   and STATESFORMAT=STATESPRESENT are accepted and change nothing.
///   DATATYPE and SYMBOLS go to `format` when it is given.
///   format_error for DATATYPE=CONTINUOUS (only discrete characters are
///   read), TRANSPOSE, NOLABELS, TOKENS, EQUATE, ELIMINATE, and any
///   subcommand not listed.
/// - MATRIX: each row is a label, then its cells. A label is single-quoted
///   ('' is one quote inside; a line end inside is refused) or the text up
///   to whitespace, "[" or ";"; it is kept as written, without its quotes,
///   underscores not turned into blanks. A label that names no row as
///   written names the one row, if there is one, that reads the same with
///   each "_" as a blank (NEXUS's rule: 'a b' in TAXLABELS or a first block
///   and a_b in a later block are one taxon); the row keeps the label it
///   was first given. A cell is every character that is
///   not whitespace and not inside a comment; a set {ACG} or (ACG) is one
///   cell, stored as "?". A sequential row runs over lines until it holds
///   NCHAR cells, and its last line must hold nothing more; an interleaved
///   row continues in each block on a line that starts with its label
///   (rows found by label, in any order). The matrix ends with ";".
/// Plain cells are stored through cells.map, or only consumed and checked
/// when cells.store is false (labels are filled either way). format_error
/// says what was expected and what stood there, for a NTAX differing from
/// the TAXA block's, a label repeated or unknown (not in TAXLABELS, or new
/// in a later interleaved block), a row with too many or too few cells,
/// fewer or more rows than NTAX, a match character in the first row, and
/// "]", "}", ")" or a quote among the cells; end_of_file_error when the
/// input ends early (inside a comment, quote, row or block); range_error
/// for NTAX outside 1..5000 or NCHAR outside 1..1048576.
char_mat_access read_nexus_matrix(text_input& in,
                                  const cell_options& cells = {},
                                  nexus_format_type* format = nullptr);

/// What a PHYLIP reader passed over without failing, for the caller's
/// notices: text after a row's last site on its line, and lines that hold
/// more than whitespace after the last row.
struct data_notes {
  std::int64_t trailing_rows = 0;  ///< rows with text after their last site
  std::int64_t trailing_line = 0;  ///< the line of the first of them
  std::string trailing_text;       ///< its text (at most 40 characters)
  std::int64_t extra_lines = 0;    ///< lines of text after the last row
  std::int64_t extra_line = 0;     ///< the first of them
  /// The first row whose ten-character (PHYLIP) label ran over a line end,
  /// as names that are shorter and not padded do; 0 for none.
  std::int32_t label_over_line_end = 0;
  /// What a NEXUS file declares of its cells (read_data_file; empty for
  /// the other formats).
  nexus_format_type declared;
};

/// Takes the rows of a PHYLIP matrix one at a time as they are read, in
/// place of storing their cells: for callers that fold every row into a
/// summary and never need the matrix itself.
class row_sink {
 public:
  virtual ~row_sink() = default;
  /// Called once the header is read: whether to take the rows of a matrix
  /// of this shape (false: the cells are stored as usual).
  virtual bool accept(std::int32_t ntax, std::int32_t nchar) = 0;
  /// Where the next row's nchar cells are to be read; the reader writes
  /// there, then hands the memory back through take().
  virtual char* row_memory() = 0;
  /// Row `row` (1-based) as read: its label and its cells (mapped as the
  /// cell options say) at the memory row_memory() gave.
  virtual void take(std::int32_t row, const std::string& label,
                    char* cells) = 0;
  /// The fresh memory the rows are folded into, which the reader may fault
  /// in ahead on a helper thread; none unless the sink says.
  virtual std::span<std::uint8_t> fresh_memory() { return {}; }
};

/// read_char_mat and skim_char_mat in one (cells stored as cells says),
/// noting in `notes` (when given) rows with text after their last site.
/// With `sink`, each row's cells go to it instead of the matrix (whose
/// labels are filled all the same).
void read_char_mat(text_input& in, char_format_type layout,
                   char_mat_type& matrix, const cell_options& cells,
                   data_notes* notes, row_sink* sink = nullptr);

/// Notes in `notes` the lines of text that are left in `in`, reading it to
/// its end (for a data file that is the whole input).
void note_rest(text_input& in, data_notes& notes);

/// How read_data_file reads a PHYLIP data file.
struct data_file_options {
  /// Label layout of PHYLIP rows: PHYLIP (ten characters), EXTENDED_PHYLIP
  /// (first word) or COMMENTED_PHYLIP.
  char_format_type layout = char_format_type::EXTENDED_PHYLIP;
  /// PHYLIP rows in interleaved blocks.
  bool interleaved = false;
  cell_options cells{};
  /// The data file is the whole input (not followed by associations on the
  /// same stream): what follows the last row is looked at for `notes`.
  bool whole_input = false;
  /// Use a second thread while a large PHYLIP matrix is read, to fault its
  /// cell memory in ahead of the rows (the kernel zeroes fresh pages, which
  /// otherwise costs as much as the read itself). Nothing else changes.
  /// Reading ahead (text_input::read_ahead) is left to the caller: scanning
  /// text that another processor's read() brought in cost more than the
  /// overlap gained on the machines measured (100 MB: a quarter slower).
  bool helper_threads = false;
  /// Offered the rows of a sequential PHYLIP matrix whose cells are to be
  /// stored; when it accepts them the returned matrix has labels only.
  /// Interleaved, FASTA and NEXUS files are stored as usual.
  row_sink* rows = nullptr;
};

/// Reads a whole data matrix in any of the formats detect_data_format tells
/// apart: PHYLIP through read_header and read_char_mat (or
/// read_interleaved_char_mat), FASTA and NEXUS through their readers.
/// `format`, when given, receives the format found. Failures as the reader
/// of the format has them. When the matrix a PHYLIP or NEXUS header declares
/// cannot be reserved at once (a memory limit), its rows are kept as they
/// come, so that a file holding fewer fails as truncated; std::bad_alloc
/// only for the memory the rows read need.
char_mat_access read_data_file(text_input& in, const data_file_options& options,
                               data_format_type* format = nullptr,
                               data_notes* notes = nullptr);

/// Most sites a row may have when rows are read one at a time into a sink
/// (read_data_rows): 2^28.
inline constexpr std::int32_t max_streamed_chars = std::int32_t{1} << 28;

/// The labels and the number of sites of a data file read row by row.
struct data_rows_type {
  std::vector<std::string> labels;  ///< row i's label is labels[i - 1]
  std::int32_t nchar = 0;
};

/// Whether read_data_rows reads a data file of this format with these
/// options: sequential PHYLIP (not interleaved) and FASTA, whose rows come
/// whole one after the other.
bool streams_rows(data_format_type format,
                  const data_file_options& options) noexcept;

/// Reads a whole data file of sequential rows (streams_rows) one row at a
/// time: each row's cells, stored through options.cells.map, go to `rows`
/// at the memory it gives (with options.cells.store false they are only
/// checked, and `rows` gets nothing), its label to the result. The counts
/// may pass char_mat_type's ranges: up to 2^31 - 1 rows and
/// max_streamed_chars sites, memory holding the labels and a row or two.
/// `rows` must accept the shape (the taxon count given is 0 for FASTA,
/// which does not say it before its end); a PHYLIP header's counts outside
/// those ranges are a range_error. Other failures as read_data_file has
/// them; constraint_error for a format streams_rows refuses.
data_rows_type read_data_rows(text_input& in,
                              const data_file_options& options,
                              row_sink& rows, data_format_type* format = nullptr,
                              data_notes* notes = nullptr);

/// A FASTA residue outside the nucleotide letters (either case), "-" and
/// "?" after cleaning.
class invalid_character_error : public error {
 public:
  using error::error;
  const char* kind() const noexcept override {
    return "invalid_character_error";
  }
};

/// Reads FASTA records to the end of the input and appends one sequence per
/// record. A line starting with ">" is a header: the whole rest of it,
/// trimmed of whitespace and with control characters made "_", labels the
/// sequence that follows; format_error for a label of more than 10000
/// characters. Every other line (read in pieces of at most 10000 characters,
/// a piece never being a header) adds residues; data before the first header
/// belongs to the first sequence (skip_to_fasta_header refuses it). Residues
/// lose their whitespace and "." becomes "-". invalid_character_error for
/// any other character outside wide_nuc_set, at the line where it stands
/// (the sequences stored before it stay); range_error at the header that
/// would open a 5001st sequence and at the line where a sequence outgrows
/// 1048576 residues, so memory stays bounded on endless input.
void read_fasta(text_input& in, sequence_vecs& sequences);

/// Passes over a byte order mark and blank lines up to the first FASTA
/// header. format_error when the input is empty or when anything but a
/// header comes first.
void skip_to_fasta_header(text_input& in);

/// True when every sequence has as many residues as the first.
/// range_error for an empty vector or a first sequence without residues.
bool is_aligned(const sequence_vecs& sequences);

// ---------------------------------------------------------------------------
// Distance matrices.

/// The label layout that rows of a distance matrix file use: PHYLIP for
/// PHYLIP, TAB_SEPARATED for TAB, EXTENDED_PHYLIP for every other layout.
label_format_type label_layout(dist_format_type layout);

/// Fills the labels and distances of `matrix` (already sized by the caller
/// from read_dist_header) from the rows of `in`: per row a label in the
/// layout's label layout, then ntax reals (the full square, diagonal
/// included; symmetry is not checked), then the rest of the last value's line
/// is skipped (the end of the input also ends it). format_error for a value
/// that is not a number, range_error for one that is negative or rounds
/// beyond the largest float, end_of_file_error for a short input. Failures
/// propagate with the row named in their detail; the matrix is left partly
/// filled.
void read_dist_mat(text_input& in, dist_format_type layout,
                   dist_mat_type& matrix);

/// As read_dist_mat, into flat storage: value j of row i is value number
/// (i - 1) * ntax + j. A matrix smaller than ntax * ntax fails with
/// range_error once the first value beyond its size has been read.
void read_fast_dist_mat(text_input& in, dist_format_type layout,
                        fast_dist_mat_type& matrix);

/// A whole distance matrix file in `layout`: a UTF-8 byte order mark at the
/// start is passed over, then read_dist_header and read_dist_mat read it.
/// In TAB the header's column labels (the text after each TAB, a CR before
/// the line end left out) must equal the row labels in the same order:
/// format_error at the first row that differs, naming both labels.
/// end_of_file_error when the input holds nothing but whitespace (at most a
/// page of it is looked at); otherwise failures as the two readers have them.
dist_mat_access read_dist_file(text_input& in, dist_format_type layout);

/// A square table of distances as R (write.table, write.csv, write.csv2),
/// pandas (to_csv) and spreadsheets write it: a header line of column
/// labels, with or without a cell before them (empty, or a name for the
/// rows: told from the first row's number of fields), then one line per
/// row: its label and one distance per column. A UTF-8 byte order mark at
/// the start is passed over, blank lines and a CR before each line end too.
/// The separator is TAB, ";", "," or, when none of these stands on the first
/// line (or the second, for one column), a run of blanks; fields may be
/// quoted as RFC 4180 has it, but end on their line; blanks around an
/// unquoted field are not part of it. Distances are decimal numbers (1e-04,
/// 0.25, a decimal comma unless commas separate fields) from 0 to
/// 3.40282347E+38; a missing one (an empty field, NA or NaN) reads as 0 on
/// the diagonal. Reads exactly as many rows as there are columns; whatever
/// follows stays unread.
/// end_of_file_error for an empty input; format_error for rows of another
/// number of fields, a row
/// label that is empty or differs from its column's label, a text after a
/// closing quote or a quote left open at the line end, a field of more than
/// 10000 characters, a value that is not a number and a missing value off
/// the diagonal; range_error for a distance out of range or more than 5000
/// columns; end_of_file_error for fewer rows than columns. Failures name the
/// line, and values their row and column.
dist_mat_access read_dist_table(text_input& in);

}  // namespace zurud::read
