// Shared data of the Zurud library: failures, character sets and mappings,
// character matrices, labels, sequences, distance matrices and the buffered
// text output that every writer uses.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zurud {

// ---------------------------------------------------------------------------
// Failures. Every failure of the library is one of these; only a program's
// main turns them into messages and an exit status.

/// Root of the family. what() is the standard message (fixed texts such as
/// "attempt to insert key already in map" stay exactly as they are); detail()
/// is optional context for people ("label \"x\" occurs in rows 2 and 5").
class error : public std::runtime_error {
 public:
  explicit error(const std::string& message, std::string detail = {})
      : std::runtime_error(message), detail_(std::move(detail)) {}
  /// Short name of the failure kind, for diagnostics ("range error").
  virtual const char* kind() const noexcept { return "error"; }
  const std::string& detail() const noexcept { return detail_; }
  /// Adds context while the failure passes up; the message stays as it is.
  void add_detail(const std::string& more) {
    detail_ = detail_.empty() ? more : more + ": " + detail_;
  }
  /// The input line the failure belongs to, when the reader has already
  /// passed it (0: the line being read).
  std::int64_t line() const noexcept { return line_; }
  void set_line(std::int64_t line) noexcept { line_ = line; }

 private:
  std::string detail_;
  std::int64_t line_ = 0;
};

/// Text where a number is required, or a number that does not fit.
class format_error : public error {
 public:
  using error::error;
  const char* kind() const noexcept override { return "format error"; }
};

/// Reading past the end of the input.
class end_of_file_error : public error {
 public:
  using error::error;
  const char* kind() const noexcept override { return "end-of-file error"; }
};

/// A broken rule of a collection or type: duplicate key, missing key, ...
class constraint_error : public error {
 public:
  using error::error;
  const char* kind() const noexcept override { return "constraint error"; }
};

/// A value outside a declared range: counts, taxon numbers, sizes.
class range_error : public constraint_error {
 public:
  using constraint_error::constraint_error;
  const char* kind() const noexcept override { return "range error"; }
};

/// A file that cannot be opened for reading (missing, unreadable, a folder).
class open_error : public error {
 public:
  using error::error;
  const char* kind() const noexcept override { return "open error"; }
};

/// A read or write that the operating system refused (disk full, I/O error).
class io_error : public error {
 public:
  using error::error;
  const char* kind() const noexcept override { return "input/output error"; }
};

/// `text` fit for a terminal: bytes below 32 and 127 written as \xNN, so
/// that no input byte reaches it raw; bytes from 128 up (UTF-8) stay.
std::string printable(std::string_view text);

/// Where a failure happened: the input being read and its line (0: none).
struct failure_place {
  std::string name;
  std::int64_t line = 0;
};

/// The one line a program writes for a failure, printable. An open_error is
/// "Invalid filename. " and its message; a format_error "Wrong file format. ",
/// its message and detail and the place; every other failure "<program>: ",
/// its kind, message and detail and the place (" (name, line n)"), or for
/// failures outside the family "out of memory" or "unexpected failure: ".
std::string failure_line(std::string_view program, const std::exception& e,
                         const failure_place* where = nullptr);
/// The version of the programs and the library, set once in the build.
extern const char* const version;


/// A failure of the family in one line for people, as failure_line writes
/// it after the program's name: "kind: message[: detail][ (place)]", not
/// made printable.
std::string failure_text(const error& e, const failure_place* where = nullptr);

/// Standard messages of the collections.
inline constexpr const char* key_in_map_msg =
    "attempt to insert key already in map";
inline constexpr const char* element_in_set_msg =
    "attempt to insert element already in set";
inline constexpr const char* key_not_in_map_msg =
    "no element available because key not in map";

// ---------------------------------------------------------------------------
// Ranges shared by all matrices.

inline constexpr std::int32_t max_taxa = 5000;
inline constexpr std::int32_t max_chars = 1048576;
/// Longest line the line-based readers accept in one piece.
inline constexpr std::size_t max_line_len = 10000;
/// Longest word a reader keeps (a label, a header's name, a word of the
/// association file, a number): a longer one is a format_error, so that
/// memory stays bounded on any input.
inline constexpr std::size_t max_word_len = 10000;
/// Largest finite single-precision value, the top of every distance.
inline constexpr float max_float = 3.40282347e+38f;

// ---------------------------------------------------------------------------
// Character sets and mappings over the 256 Latin-1 codes.

/// A set of characters: a 256-bit map.
class char_set {
 public:
  constexpr char_set() = default;
  /// The set of the characters of `members`.
  constexpr explicit char_set(std::string_view members) {
    for (char c : members) insert(static_cast<unsigned char>(c));
  }
  /// The codes lo..hi, both included.
  static constexpr char_set range(unsigned lo, unsigned hi) {
    char_set s;
    for (unsigned c = lo; c <= hi; ++c) s.insert(static_cast<unsigned char>(c));
    return s;
  }
  constexpr bool contains(unsigned char c) const {
    return (bits_[c >> 6] >> (c & 63)) & 1u;
  }
  constexpr bool contains(char c) const {
    return contains(static_cast<unsigned char>(c));
  }
  constexpr void insert(unsigned char c) {
    bits_[c >> 6] |= std::uint64_t{1} << (c & 63);
  }
  constexpr void erase(unsigned char c) {
    bits_[c >> 6] &= ~(std::uint64_t{1} << (c & 63));
  }
  constexpr bool empty() const {
    return (bits_[0] | bits_[1] | bits_[2] | bits_[3]) == 0;
  }
  constexpr int size() const {
    int n = 0;
    for (unsigned c = 0; c < 256; ++c) n += contains(static_cast<unsigned char>(c));
    return n;
  }
  /// The members in increasing code order, one character each.
  std::string members() const;

  constexpr char_set operator~() const {
    char_set s;
    for (int i = 0; i < 4; ++i) s.bits_[i] = ~bits_[i];
    return s;
  }
  constexpr char_set operator|(const char_set& o) const {
    char_set s;
    for (int i = 0; i < 4; ++i) s.bits_[i] = bits_[i] | o.bits_[i];
    return s;
  }
  /// Members of this set that are not in `o`.
  constexpr char_set operator-(const char_set& o) const {
    char_set s;
    for (int i = 0; i < 4; ++i) s.bits_[i] = bits_[i] & ~o.bits_[i];
    return s;
  }
  friend constexpr bool operator==(const char_set&, const char_set&) = default;

 private:
  std::array<std::uint64_t, 4> bits_{};
};

/// A mapping of each character to one character; unnamed ones map to
/// themselves.
class char_mapping {
 public:
  /// The identity mapping.
  constexpr char_mapping() {
    for (unsigned c = 0; c < 256; ++c) map_[c] = static_cast<unsigned char>(c);
  }
  /// Every member of `from` to `to`, the rest to itself.
  constexpr char_mapping(const char_set& from, char to) : char_mapping() {
    for (unsigned c = 0; c < 256; ++c)
      if (from.contains(static_cast<unsigned char>(c)))
        map_[c] = static_cast<unsigned char>(to);
  }
  /// from[i] to to[i] for each i; both of the same length.
  constexpr char_mapping(std::string_view from, std::string_view to)
      : char_mapping() {
    for (std::size_t i = 0; i < from.size() && i < to.size(); ++i)
      map_[static_cast<unsigned char>(from[i])] =
          static_cast<unsigned char>(to[i]);
  }
  constexpr char operator()(char c) const {
    return static_cast<char>(map_[static_cast<unsigned char>(c)]);
  }
  constexpr void set(unsigned char from, char to) {
    map_[from] = static_cast<unsigned char>(to);
  }
  friend constexpr bool operator==(const char_mapping&,
                                   const char_mapping&) = default;

 private:
  std::array<unsigned char, 256> map_{};
};

namespace detail {
inline constexpr char_set letters = char_set::range('A', 'Z') |
                                    char_set::range('a', 'z') |
                                    char_set::range(192, 214) |
                                    char_set::range(216, 246) |
                                    char_set::range(248, 255);
inline constexpr char_set digits = char_set::range('0', '9');
// Every byte from 128 up belongs to a name: the bytes of UTF-8 letters
// after the first lie in 128-191, so none of them may be taken for a control
// or a separator.
inline constexpr char_set graphic =
    char_set::range(32, 126) | char_set::range(128, 255);
}  // namespace detail

inline constexpr char_set nuc_set{"acgt"};
inline constexpr char_set gapped_nuc_set{"acgt-"};
inline constexpr char_set non_nuc_set = ~nuc_set;
inline constexpr char_set non_gapped_nuc_set = ~gapped_nuc_set;
inline constexpr char_set wide_nuc_set{"acgtrymkswhbvdnACGTRYMKSWHBVDN-?"};
inline constexpr char_set non_wide_nuc_set = ~wide_nuc_set;
inline constexpr char_set wide_amino_acids{
    "acdefghiklmnpqrstvwyACDEFGHIKLMNPQRSTVWY*-?"};
/// "." to "-": the gap spelling of FASTA files.
inline constexpr char_mapping good_gaps{".", "-"};
inline constexpr char_set word_set =
    detail::letters | detail::digits | char_set{"_"};
inline constexpr char_set non_word_set = ~word_set;
inline constexpr char_mapping word_map{non_word_set, '_'};
/// Characters a NEXUS label may hold unquoted.
inline constexpr char_set nexus_label_set =
    detail::graphic - char_set{" ()[]{}/\\,;:=*'\"`+-<>"};
inline constexpr char_set non_nexus_label_set = ~nexus_label_set;
inline constexpr char_mapping nexus_label_map{non_nexus_label_set, '_'};
inline constexpr char_set newick_label_set =
    detail::graphic - char_set{" (),;:'"};
inline constexpr char_set non_newick_label_set = ~newick_label_set;
inline constexpr char_mapping newick_label_map{non_newick_label_set, '_'};
/// The ASCII control characters, codes 0-31 and 127. Bytes from 128 up are
/// never controls: they are the letters of names (UTF-8 or Latin-1).
inline constexpr char_set controlchr =
    char_set::range(0, 31) | char_set{"\x7F"};
/// The blank and every control character (TAB, LF, CR, DEL, ...): what
/// separates words and cells in every reader.
inline constexpr char_set whitespace = controlchr | char_set{" "};
inline constexpr char_set blackspace = ~whitespace;
/// The blank to "_".
inline constexpr char_mapping no_space{" ", "_"};
/// "[" to "{" and "]" to "}": keeps NEXUS comments from closing early.
inline constexpr char_mapping good_comment{"[]", "{}"};

namespace detail {
constexpr char_mapping shifted(const char_set& from, int by) {
  char_mapping m;
  for (unsigned c = 0; c < 256; ++c)
    if (from.contains(static_cast<unsigned char>(c)))
      m.set(static_cast<unsigned char>(c), static_cast<char>(c + by));
  return m;
}
}  // namespace detail

/// Latin-1 upper case to lower case: A-Z, codes 192-214 and 216-222 move up 32.
inline constexpr char_mapping lower_case_map = detail::shifted(
    char_set::range('A', 'Z') | char_set::range(192, 214) |
        char_set::range(216, 222),
    32);
/// The cells of an analysis: lower_case_map, and RNA's uracil (U or u) as
/// t, so that an rRNA alignment counts its U sites as the T sites of DNA.
inline constexpr char_mapping site_map = [] {
  char_mapping m = lower_case_map;
  m.set('U', 't');
  m.set('u', 't');
  return m;
}();
/// Latin-1 lower case to upper case: a-z, codes 224-246 and 248-254 move down 32.
inline constexpr char_mapping upper_case_map = detail::shifted(
    char_set::range('a', 'z') | char_set::range(224, 246) |
        char_set::range(248, 254),
    -32);

// ---------------------------------------------------------------------------
// Enumerations, in declaration order.

enum class matrix_type : std::uint8_t { QUANT, DISCR, CNTCH };
enum class char_format_type : std::uint8_t {
  PHYLIP,
  EXTENDED_PHYLIP,
  NEXUS,
  NEXUS_ENCLOSED,
  COMMENTED_PHYLIP
};
enum class label_format_type : std::uint8_t {
  PHYLIP,
  EXTENDED_PHYLIP,
  COMMENTED_PHYLIP,
  TAB_SEPARATED
};
enum class dist_format_type : std::uint8_t {
  PHYLIP,
  EXTENDED_PHYLIP,
  TAB,
  NEXUS,
  NEXUS_ENCLOSED,
  ONE_COLUMN,
  RAW
};

/// The integer image: one blank before a value of zero or more (" 2", "-99").
std::string integer_image(std::int64_t value);

// ---------------------------------------------------------------------------
// Labels.

/// Texts indexed by consecutive integers first..last (1..ntax in a matrix).
class tax_lab_type {
 public:
  tax_lab_type() = default;
  /// `count` empty texts indexed first..first+count-1.
  explicit tax_lab_type(std::int32_t count, std::int32_t first = 1)
      : first_(first), items_(static_cast<std::size_t>(count < 0 ? 0 : count)) {}
  tax_lab_type(std::initializer_list<std::string> items) : items_(items) {}

  std::int32_t first() const noexcept { return first_; }
  std::int32_t last() const noexcept {
    return first_ + static_cast<std::int32_t>(items_.size()) - 1;
  }
  std::int32_t size() const noexcept {
    return static_cast<std::int32_t>(items_.size());
  }
  bool empty() const noexcept { return items_.empty(); }
  /// Element i, first() <= i <= last(); otherwise range_error.
  std::string& operator()(std::int32_t i) { return items_[index(i)]; }
  const std::string& operator()(std::int32_t i) const {
    return items_[index(i)];
  }
  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }
  friend bool operator==(const tax_lab_type&, const tax_lab_type&) = default;

 private:
  std::size_t index(std::int32_t i) const;
  std::int32_t first_ = 1;
  std::vector<std::string> items_;
};

// ---------------------------------------------------------------------------
// Character matrices.

/// taxa x characters, 1..5000 x 1..1048576, cells of one matrix_type stored
/// row-major. The cells start undefined: creating even the largest matrix
/// touches no cell memory, so pages a reader never fills cost nothing.
class char_mat_type {
 public:
  /// Throws range_error for ntax outside 1..5000 or nchar outside 1..1048576;
  /// std::bad_alloc when the cells cannot be allocated.
  char_mat_type(std::int32_t ntax, std::int32_t nchar, matrix_type char_type);
  /// A DISCR matrix over cells made elsewhere: `cells` holds at least
  /// ntax * nchar characters, row-major (a reader that learns the number of
  /// rows as it goes fills a larger block and hands it over). range_error as
  /// above.
  char_mat_type(std::int32_t ntax, std::int32_t nchar,
                std::unique_ptr<char[]> cells);
  char_mat_type(const char_mat_type& other);
  char_mat_type& operator=(const char_mat_type& other);
  char_mat_type(char_mat_type&&) noexcept = default;
  char_mat_type& operator=(char_mat_type&&) noexcept = default;

  std::int32_t ntax() const noexcept { return ntax_; }
  std::int32_t nchar() const noexcept { return nchar_; }
  matrix_type char_type() const noexcept { return char_type_; }

  /// One comment on the whole matrix ("mingrpsize= 2" in the tool).
  std::string comment;
  /// Row labels, 1..ntax.
  tax_lab_type labels;
  /// Row comments, 1..ntax (group sizes in a host matrix).
  tax_lab_type comments;

  // Cell (i, j), 1-based. Asking for the cells of another type is a
  // range_error; i and j are trusted (checked by whoever sized the loops).
  float& quant(std::int32_t i, std::int32_t j) { return quant_row(i)[j - 1]; }
  char& discr(std::int32_t i, std::int32_t j) { return discr_row(i)[j - 1]; }
  std::int32_t& count(std::int32_t i, std::int32_t j) {
    return count_row(i)[j - 1];
  }
  float quant(std::int32_t i, std::int32_t j) const {
    return quant_row(i)[j - 1];
  }
  char discr(std::int32_t i, std::int32_t j) const {
    return discr_row(i)[j - 1];
  }
  std::int32_t count(std::int32_t i, std::int32_t j) const {
    return count_row(i)[j - 1];
  }
  /// The nchar cells of row i, contiguous.
  float* quant_row(std::int32_t i);
  char* discr_row(std::int32_t i);
  std::int32_t* count_row(std::int32_t i);
  const float* quant_row(std::int32_t i) const;
  const char* discr_row(std::int32_t i) const;
  const std::int32_t* count_row(std::int32_t i) const;

  /// Same shape, comment, labels, row comments and cells; QUANT cells compare
  /// as numbers (0.0 == -0.0, NaN equals nothing).
  friend bool operator==(const char_mat_type& a, const char_mat_type& b);

 private:
  void require(matrix_type t) const;
  std::size_t cells() const noexcept {
    return static_cast<std::size_t>(ntax_) * static_cast<std::size_t>(nchar_);
  }
  std::size_t row_offset(std::int32_t i) const noexcept {
    return static_cast<std::size_t>(i - 1) * static_cast<std::size_t>(nchar_);
  }
  std::int32_t ntax_;
  std::int32_t nchar_;
  matrix_type char_type_;
  std::unique_ptr<float[]> quant_;
  std::unique_ptr<char[]> discr_;
  std::unique_ptr<std::int32_t[]> count_;
};

using char_mat_access = std::unique_ptr<char_mat_type>;

/// Uninitialised DISCR cells for `n` characters, laid out as a matrix's own:
/// for readers that fill a block before the matrix exists. std::bad_alloc
/// when it cannot be had.
std::unique_ptr<char[]> new_discr_cells(std::size_t n);

/// Memory freed with std::free, or unmapped when it is a mapping of its own
/// of `mapped` bytes.
struct free_memory {
  std::size_t mapped = 0;
  void operator()(void* p) const noexcept;
};
/// `n` bytes (at least one) set to zero, freed with std::free. A large block
/// is fresh pages that the system zeroes as they are first touched, without
/// a pass over them here. std::bad_alloc when they cannot be had.
std::unique_ptr<std::uint8_t[], free_memory> new_zeroed_bytes(std::size_t n);

// ---------------------------------------------------------------------------
// Sequences.

/// One sequence of an alignment. spare_text is never read or written by the
/// library's readers and writers.
struct sequence_type {
  std::string label;
  std::string spare_text;
  std::string residues;
  friend bool operator==(const sequence_type&,
                         const sequence_type&) = default;
};

/// Sequences indexed 1..5000 at most.
class sequence_vecs {
 public:
  sequence_vecs() = default;
  sequence_vecs(std::initializer_list<sequence_type> items);
  /// Appends; range_error when 5000 sequences are already held.
  void append(sequence_type s);
  std::int32_t size() const noexcept {
    return static_cast<std::int32_t>(items_.size());
  }
  bool empty() const noexcept { return items_.empty(); }
  /// Element i, 1 <= i <= size(); otherwise range_error.
  sequence_type& operator()(std::int32_t i);
  const sequence_type& operator()(std::int32_t i) const;
  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }
  friend bool operator==(const sequence_vecs&,
                         const sequence_vecs&) = default;

 private:
  std::vector<sequence_type> items_;
};

// ---------------------------------------------------------------------------
// Distance matrices. Values lie in 0.0 .. 3.40282347E+38; storing anything
// else (negative, infinite, NaN) is a range_error.

/// ntax x ntax distances, row-major, 1-based.
class positive_matrix {
 public:
  explicit positive_matrix(std::int32_t n);
  positive_matrix(const positive_matrix& other);
  positive_matrix& operator=(const positive_matrix& other);
  positive_matrix(positive_matrix&&) noexcept = default;
  positive_matrix& operator=(positive_matrix&&) noexcept = default;
  float operator()(std::int32_t i, std::int32_t j) const {
    return values_[offset(i, j)];
  }
  /// Stores v at (i, j); range_error when v is outside 0.0 .. max_float.
  void set(std::int32_t i, std::int32_t j, float v);
  std::int32_t size() const noexcept { return n_; }

 private:
  std::size_t offset(std::int32_t i, std::int32_t j) const noexcept {
    return static_cast<std::size_t>(i - 1) * static_cast<std::size_t>(n_) +
           static_cast<std::size_t>(j - 1);
  }
  std::int32_t n_;
  std::unique_ptr<float[]> values_;
};

/// A square distance matrix.
class dist_mat_type {
 public:
  /// range_error for ntax outside 1..5000.
  explicit dist_mat_type(std::int32_t ntax);
  std::int32_t ntax() const noexcept { return ntax_; }
  tax_lab_type labels;
  positive_matrix distances;

 private:
  std::int32_t ntax_;
};

/// The same distances in flat storage: value k (1..size) is the k-th read.
class fast_positive_matrix {
 public:
  explicit fast_positive_matrix(std::int32_t size);
  fast_positive_matrix(const fast_positive_matrix& other);
  fast_positive_matrix& operator=(const fast_positive_matrix& other);
  fast_positive_matrix(fast_positive_matrix&&) noexcept = default;
  fast_positive_matrix& operator=(fast_positive_matrix&&) noexcept = default;
  float operator()(std::int32_t k) const {
    return values_[static_cast<std::size_t>(k - 1)];
  }
  /// Stores v at k; range_error when k is outside 1..size or v outside
  /// 0.0 .. max_float.
  void set(std::int32_t k, float v);
  std::int32_t size() const noexcept { return size_; }

 private:
  std::int32_t size_;
  std::unique_ptr<float[]> values_;
};

class fast_dist_mat_type {
 public:
  /// range_error for ntax outside 1..5000 or a negative size.
  fast_dist_mat_type(std::int32_t ntax, std::int32_t size);
  std::int32_t ntax() const noexcept { return ntax_; }
  std::int32_t size() const noexcept { return distances.size(); }
  tax_lab_type labels;
  fast_positive_matrix distances;

 private:
  std::int32_t ntax_;
};

using dist_mat_access = std::unique_ptr<dist_mat_type>;
using fast_dist_mat_access = std::unique_ptr<fast_dist_mat_type>;

// ---------------------------------------------------------------------------
// Text output.

/// Buffered output to a file descriptor or to a string. Writers append to
/// the buffer; it goes out when full or on flush(). A refused write throws
/// io_error (from put or flush) and every later flush throws again, so a
/// full disk is never mistaken for success.
class text_output {
 public:
  /// Output to `fd`, `capacity` bytes buffered; `line_buffered` flushes at
  /// every line end (for standard error).
  explicit text_output(int fd, std::string name, bool line_buffered = false,
                       std::size_t capacity = std::size_t{1} << 20);
  /// Output appended to `sink` on flush (for tests and fuzzers).
  explicit text_output(std::string& sink);
  /// Output kept in memory: the buffer grows instead of being written out,
  /// text() is everything put so far and clear() starts again. For text
  /// made in one thread and written out by another.
  text_output();
  text_output(const text_output&) = delete;
  text_output& operator=(const text_output&) = delete;
  /// Flushes what is left; failures here are ignored (call flush() first).
  ~text_output();

  void put(char c) {
    if (pos_ == cap_) drain();
    buf_[pos_++] = c;
    if (line_buffered_ && c == '\n') flush();
  }
  void put(std::string_view s);
  /// `n` copies of c.
  void put_fill(char c, std::size_t n);
  /// A text and a line end.
  void put_line(std::string_view s) {
    put(s);
    put('\n');
  }
  /// Room for at least n characters at the returned pointer; commit(k) then
  /// makes the first k of them part of the output. n must not exceed the
  /// capacity.
  char* reserve(std::size_t n) {
    if (cap_ - pos_ < n) drain();
    return buf_.get() + pos_;
  }
  void commit(std::size_t k) noexcept { pos_ += k; }
  std::size_t capacity() const noexcept { return cap_; }
  /// Writes out the buffer; io_error if the system refuses. Nothing for
  /// output kept in memory.
  void flush();
  /// What output kept in memory holds.
  std::string_view text() const noexcept { return {buf_.get(), pos_}; }
  /// Empties output kept in memory, keeping its buffer.
  void clear() noexcept { pos_ = 0; }
  const std::string& name() const noexcept { return name_; }
  /// A tolerant output drops what the system refuses instead of throwing,
  /// so that a closed or full standard error costs the notices and never
  /// the run's real output; failed() then tells that something was lost.
  void set_tolerant(bool tolerant) noexcept { tolerant_ = tolerant; }
  bool failed() const noexcept { return failed_; }

 private:
  void drain();
  void write_all(const char* data, std::size_t n);
  bool tolerant_ = false;
  int fd_ = -1;
  std::string* sink_ = nullptr;
  std::string name_;
  bool in_memory_ = false;
  bool line_buffered_ = false;
  bool failed_ = false;
  int errno_ = 0;
  std::size_t cap_;
  std::size_t pos_ = 0;
  std::unique_ptr<char[]> buf_;
};

/// Standard output (fully buffered) and standard error (line buffered).
text_output& standard_output();
text_output& standard_error();

/// The options a program answers only as its one argument: for "--version"
/// writes "<program> <version>", for "--help" the usage text, to `out`, and
/// returns true; anything else is false. A refused write throws as any
/// output does.
bool answer_standard_option(std::string_view argument, std::string_view program,
                            std::string_view usage, text_output& out);

/// The same for a program's main: when the command line is the program and
/// one such option, answers it on standard output and returns the exit
/// status, 0, or 1 with the failure line on standard error when standard
/// output refuses the text; otherwise nothing.
std::optional<int> standard_option_status(int argc, char** argv,
                                          std::string_view program,
                                          std::string_view usage);

// ---------------------------------------------------------------------------
// Alphabets of discrete characters: the states a cell can take, how an input
// byte becomes a state, the code that stands for a set of states, and what a
// sample of cells says of their alphabet.

/// The kinds of alphabet, in the order of their literals.
enum class alphabet_kind_type : std::uint8_t { DNA, PROTEIN, STANDARD };

/// A set of an alphabet's states: bit i for its state i (in code order of
/// the states as cells hold them), gap_bit for the gap.
using state_set_type = std::uint32_t;

/// A host cell whose code stands for several states of an alphabet that
/// writes them as a polymorphism ("{01}", standard characters): its place
/// among the cells it came with, and its states.
struct polymorphic_cell {
  std::size_t site;
  state_set_type states;
  friend bool operator==(const polymorphic_cell&,
                         const polymorphic_cell&) = default;
};

/// One alphabet, chosen once per run and read by everything that meets its
/// cells: the readers store each cell through cell_map(), the analyses count
/// the states() (and the gap when gaps are states), and a set of states met
/// becomes one code (code_of) that the writers write. A value that is cheap
/// to copy: copies share their tables.
///
/// DNA: the states a, c, g, t; readers store cells in lower case and u as t
/// (an RNA alignment's U sites count as the T sites of DNA); every other
/// symbol is missing data. The code of a set is its nucleotide ambiguity
/// code (get_nuc_amb), in lower case.
///
/// PROTEIN: the twenty amino acids ACDEFGHIKLMNPQRSTVWY, stored in lower
/// case; B, Z, J, X, U, O, "*" and every other symbol are missing data. The
/// code of one state is its upper-case letter; of {D, N} "B", of {E, Q}
/// "Z", of {I, L} "J", of any other set of several "X".
///
/// STANDARD: the symbols of a morphological matrix ("0" to "9", or those a
/// NEXUS file lists), stored in lower case and written as declared; "?" is
/// missing data and so is a polymorphism or uncertainty of the input ("{01}",
/// "(01)", which readers store as "?"). A set of several states is a
/// polymorphism: "{01}" where a layout can hold it (NEXUS), "?" as one byte.
///
/// The gap is a state only where an analysis says so. A set of the gap
/// alone has the code "-", the gap and one state that state's code, the gap
/// and several states "?"; the empty set (nothing counted) is "?".
class alphabet_type {
 public:
  /// The most states an alphabet has.
  static constexpr std::size_t max_states = 31;
  static constexpr state_set_type gap_bit = state_set_type{1} << 31;
  static constexpr char gap = '-';
  static constexpr char missing = '?';

  /// Nucleotides (DNA and RNA).
  static const alphabet_type& dna();
  /// Amino acids.
  static const alphabet_type& protein();
  /// Standard characters with the states `symbols` (whitespace between them
  /// is passed over). format_error when there is none, more than 31, one
  /// that is not a printable ASCII character or is one of ?-{}()[];'" , or
  /// one that repeats another in either case.
  static alphabet_type standard(std::string_view symbols = "0123456789");
  /// The alphabet a user names ("dna", "protein" or "standard", in any
  /// case; `symbols` for standard, "0"-"9" when empty); nothing for any
  /// other name. format_error as standard() for bad symbols.
  static std::optional<alphabet_type> of_name(std::string_view name,
                                              std::string_view symbols = {});
  /// The alphabet a NEXUS DATATYPE declares, in any case: DNA, RNA and
  /// NUCLEOTIDE are dna, PROTEIN protein, STANDARD standard (the SYMBOLS
  /// given, "0"-"9" when none; a "-" or "?" among them is the gap or missing
  /// data, as in cells), RESTRICTION standard with "01"; nothing for
  /// MIXED, an empty or an unknown one. format_error as standard().
  static std::optional<alphabet_type> of_datatype(
      std::string_view datatype, std::string_view symbols = {});

  alphabet_kind_type kind() const noexcept;
  /// "dna", "protein" or "standard": the name of_name() takes.
  std::string_view name() const noexcept;
  /// The states in code order, as cells hold them ("acgt").
  const std::string& states() const noexcept;
  /// The valid states of an analysis: the states, and the gap with `gaps`
  /// (nuc_set and gapped_nuc_set for DNA).
  char_set valid_states(bool gaps) const;
  /// The mapping readers store cells through: lower case, and for DNA u as
  /// t (site_map).
  const char_mapping& cell_map() const noexcept;
  /// The state that a stored cell is (its bit), gap_bit for the gap, 0 for
  /// missing data.
  state_set_type state_of(char cell) const noexcept;

  /// The code of a set of states: for one state its symbol, for several the
  /// alphabet's code of that set, with the gap as the class comment says;
  /// "?" for the empty set. 0 when the set has no code (a bit beyond the
  /// states; for DNA every set of its states has one).
  char code_of(state_set_type set) const noexcept;
  /// The same for a set of cells as stored; 0 when a member is neither a
  /// state nor the gap (the codes of nuc_amb for DNA, failing alike).
  char code_of(const char_set& set) const noexcept;
  /// Whether a set is a polymorphism: several states of a standard
  /// alphabet, without the gap.
  bool polymorphic(state_set_type set) const noexcept;
  /// Whether sets of several states are polymorphisms (standard
  /// characters).
  bool writes_polymorphisms() const noexcept;
  /// A polymorphism as the NEXUS layouts write it: its states' symbols in
  /// braces ("{01}").
  std::string polymorphism(state_set_type set) const;

  /// The NEXUS DATATYPE that matrices of these cells declare ("nucleotide",
  /// "protein", "standard").
  std::string_view datatype() const noexcept;
  /// The symbols that a NEXUS matrix of standard characters declares, as
  /// given ("0123456789"); empty for the other alphabets, whose DATATYPE
  /// says them.
  const std::string& symbols() const noexcept;

  /// Same kind and states.
  friend bool operator==(const alphabet_type& a,
                         const alphabet_type& b) noexcept;

  struct tables;  // defined with the alphabets

 private:
  explicit alphabet_type(std::shared_ptr<const tables> t) : t_(std::move(t)) {}
  std::shared_ptr<const tables> t_;
};

/// What a sample of cells says of their alphabet: cells are counted as
/// missing data ("?", "-", "."), nucleotide letters (a, c, g, t, u, n in
/// either case), digits, or other symbols. Other ambiguity letters are rare
/// in nucleotide data and common protein residues, so they count as other
/// symbols. A sample of each row is enough to tell.
class alphabet_sample {
 public:
  /// Rows of nchar cells, of which add() counts the first 2^20 / ntax (at
  /// least 64, at most nchar).
  alphabet_sample(std::int32_t ntax, std::int32_t nchar);
  /// Counts the first cells of a row.
  void add(const char* row);
  /// Counts every cell of `cells` that is not whitespace.
  void add_cells(std::string_view cells);
  /// Cells that are not missing data.
  std::int64_t counted() const noexcept { return counted_; }
  /// Of those, the cells that are not nucleotide letters (digits included).
  std::int64_t foreign() const noexcept { return foreign_; }
  /// Of those, the digits.
  std::int64_t digits() const noexcept { return digits_; }
  /// STANDARD when most counted cells are digits, else PROTEIN when most
  /// are foreign, else (also when none was counted) DNA.
  alphabet_kind_type guess() const noexcept;

 private:
  std::size_t per_row_;
  std::int64_t counted_ = 0, foreign_ = 0, digits_ = 0;
};

namespace detail {
/// Whether the vectorised loops (row scan, per-host counts) may use AVX2:
/// true on processors that have it.
bool use_avx2();
/// Allows AVX2 (where the processor has it) or keeps the loops to what every
/// x86-64 processor has, so that tests can run those loops too. Returns the
/// previous setting.
bool use_avx2(bool allowed);
}  // namespace detail

}  // namespace zurud
