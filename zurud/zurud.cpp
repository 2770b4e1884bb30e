#include "zurud/zurud.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace zurud {

std::string char_set::members() const {
  std::string s;
  for (unsigned c = 0; c < 256; ++c)
    if (contains(static_cast<unsigned char>(c))) s += static_cast<char>(c);
  return s;
}

std::string printable(std::string_view text) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(text.size());
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127) {
      s += "\\x";
      s += hex[u >> 4];
      s += hex[u & 15];
    } else {
      s += c;
    }
  }
  return s;
}

namespace {

std::string place_text(const error* z, const failure_place* where) {
  if (where == nullptr || where->name.empty()) return {};
  const std::int64_t line =
      z != nullptr && z->line() > 0 ? z->line() : where->line;
  return " (" + where->name +
         (line > 0 ? ", line " + std::to_string(line) : "") + ")";
}

std::string message_text(const error& e) {
  std::string body = e.what();
  if (!e.detail().empty()) body += ": " + e.detail();
  return body;
}

}  // namespace

std::string failure_text(const error& e, const failure_place* where) {
  return std::string(e.kind()) + ": " + message_text(e) + place_text(&e, where);
}

std::string failure_line(std::string_view program, const std::exception& e,
                         const failure_place* where) {
  const auto* z = dynamic_cast<const error*>(&e);
  const std::string place = place_text(z, where);
  std::string text;
  if (dynamic_cast<const open_error*>(&e) != nullptr) {
    text = std::string("Invalid filename. ") + e.what();
  } else if (dynamic_cast<const format_error*>(&e) != nullptr) {
    text = "Wrong file format. " + message_text(*z) + place;
  } else if (z != nullptr) {
    text = std::string(program) + ": " + failure_text(*z, where);
  } else if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) {
    text = std::string(program) + ": out of memory" + place;
  } else {
    text = std::string(program) + ": unexpected failure: " + e.what() + place;
  }
  return printable(text);
}

const char* const version = ZURUD_VERSION;

bool answer_standard_option(std::string_view argument, std::string_view program,
                            std::string_view usage, text_output& out) {
  if (argument == "--version") {
    out.put_line(std::string(program) + " " + version);
  } else if (argument == "--help") {
    out.put_line(usage);
  } else {
    return false;
  }
  out.flush();
  return true;
}

std::optional<int> standard_option_status(int argc, char** argv,
                                          std::string_view program,
                                          std::string_view usage) {
  if (argc != 2) return std::nullopt;
  try {
    if (!answer_standard_option(argv[1], program, usage, standard_output()))
      return std::nullopt;
  } catch (const std::exception& e) {
    standard_error().put_line(failure_line(std::string(program), e));
    return 1;
  }
  return 0;
}

std::string integer_image(std::int64_t value) {
  char buf[24];
  buf[0] = ' ';
  char* first = value < 0 ? buf : buf + 1;
  auto r = std::to_chars(first, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

std::size_t tax_lab_type::index(std::int32_t i) const {
  if (i < first_ || i > last())
    throw range_error("label index " + std::to_string(i) + " outside " +
                      std::to_string(first_) + ".." + std::to_string(last()));
  return static_cast<std::size_t>(i - first_);
}

// ---------------------------------------------------------------------------

namespace {

void check_shape(std::int32_t ntax, std::int32_t nchar) {
  if (ntax < 1 || ntax > max_taxa)
    throw range_error("taxon count " + std::to_string(ntax) + " outside 1..5000");
  if (nchar < 1 || nchar > max_chars)
    throw range_error("character count " + std::to_string(nchar) +
                      " outside 1..1048576");
}

template <typename T>
std::unique_ptr<T[]> copy_cells(const std::unique_ptr<T[]>& from,
                                 std::size_t n) {
  if (!from) return nullptr;
  auto to = std::make_unique_for_overwrite<T[]>(n);
  std::copy_n(from.get(), n, to.get());
  return to;
}

const char* type_name(matrix_type t) {
  switch (t) {
    case matrix_type::QUANT: return "QUANT";
    case matrix_type::DISCR: return "DISCR";
    case matrix_type::CNTCH: return "CNTCH";
  }
  return "?";
}

}  // namespace

char_mat_type::char_mat_type(std::int32_t ntax, std::int32_t nchar,
                             matrix_type char_type)
    : labels((check_shape(ntax, nchar), ntax)), comments(ntax),
      ntax_(ntax), nchar_(nchar), char_type_(char_type) {
  // make_unique_for_overwrite leaves the cells uninitialised: a large matrix
  // stays virtual memory until a reader writes its rows.
  switch (char_type) {
    case matrix_type::QUANT:
      quant_ = std::make_unique_for_overwrite<float[]>(cells());
      break;
    case matrix_type::DISCR:
      discr_ = std::make_unique_for_overwrite<char[]>(cells());
      break;
    case matrix_type::CNTCH:
      count_ = std::make_unique_for_overwrite<std::int32_t[]>(cells());
      break;
  }
}

std::unique_ptr<char[]> new_discr_cells(std::size_t n) {
  return std::make_unique_for_overwrite<char[]>(n);
}

void free_memory::operator()(void* p) const noexcept {
  if (mapped == 0)
    std::free(p);
  else
    ::munmap(p, mapped);
}

// No huge pages, though a large block would need fewer faults on them: on
// virtual machines that hand free memory back to the host, a huge page is
// mostly one the host has to back again, page by page, when it is first
// touched, while small pages come from memory in use a moment ago. A run
// paused before, as a user's is, took up to twice as long on huge pages.
std::unique_ptr<std::uint8_t[], free_memory> new_zeroed_bytes(std::size_t n) {
  std::unique_ptr<std::uint8_t[], free_memory> bytes(
      static_cast<std::uint8_t*>(std::calloc(std::max<std::size_t>(n, 1), 1)));
  if (!bytes) throw std::bad_alloc();
  return bytes;
}

char_mat_type::char_mat_type(std::int32_t ntax, std::int32_t nchar,
                             std::unique_ptr<char[]> cells)
    : labels((check_shape(ntax, nchar), ntax)), comments(ntax),
      ntax_(ntax), nchar_(nchar), char_type_(matrix_type::DISCR),
      discr_(std::move(cells)) {}

char_mat_type::char_mat_type(const char_mat_type& o)
    : comment(o.comment), labels(o.labels), comments(o.comments),
      ntax_(o.ntax_), nchar_(o.nchar_), char_type_(o.char_type_),
      quant_(copy_cells(o.quant_, o.cells())),
      discr_(copy_cells(o.discr_, o.cells())),
      count_(copy_cells(o.count_, o.cells())) {}

char_mat_type& char_mat_type::operator=(const char_mat_type& o) {
  if (this != &o) *this = char_mat_type(o);
  return *this;
}

void char_mat_type::require(matrix_type t) const {
  if (char_type_ != t)
    throw range_error(std::string("cells of type ") + type_name(t) +
                      " asked of a " + type_name(char_type_) + " matrix");
}

float* char_mat_type::quant_row(std::int32_t i) {
  require(matrix_type::QUANT);
  return quant_.get() + row_offset(i);
}
char* char_mat_type::discr_row(std::int32_t i) {
  require(matrix_type::DISCR);
  return discr_.get() + row_offset(i);
}
std::int32_t* char_mat_type::count_row(std::int32_t i) {
  require(matrix_type::CNTCH);
  return count_.get() + row_offset(i);
}
const float* char_mat_type::quant_row(std::int32_t i) const {
  require(matrix_type::QUANT);
  return quant_.get() + row_offset(i);
}
const char* char_mat_type::discr_row(std::int32_t i) const {
  require(matrix_type::DISCR);
  return discr_.get() + row_offset(i);
}
const std::int32_t* char_mat_type::count_row(std::int32_t i) const {
  require(matrix_type::CNTCH);
  return count_.get() + row_offset(i);
}

bool operator==(const char_mat_type& a, const char_mat_type& b) {
  if (a.ntax_ != b.ntax_ || a.nchar_ != b.nchar_ ||
      a.char_type_ != b.char_type_ || a.comment != b.comment ||
      a.labels != b.labels || a.comments != b.comments)
    return false;
  const std::size_t n = a.cells();
  switch (a.char_type_) {
    case matrix_type::QUANT:
      return std::equal(a.quant_.get(), a.quant_.get() + n, b.quant_.get());
    case matrix_type::DISCR:
      return std::memcmp(a.discr_.get(), b.discr_.get(), n) == 0;
    case matrix_type::CNTCH:
      return std::equal(a.count_.get(), a.count_.get() + n, b.count_.get());
  }
  return false;
}

// ---------------------------------------------------------------------------

sequence_vecs::sequence_vecs(std::initializer_list<sequence_type> items) {
  for (const auto& s : items) append(s);
}

void sequence_vecs::append(sequence_type s) {
  if (items_.size() >= static_cast<std::size_t>(max_taxa))
    throw range_error("more than 5000 sequences");
  items_.push_back(std::move(s));
}

sequence_type& sequence_vecs::operator()(std::int32_t i) {
  if (i < 1 || i > size())
    throw range_error("sequence index " + std::to_string(i) + " outside 1.." +
                      std::to_string(size()));
  return items_[static_cast<std::size_t>(i - 1)];
}

const sequence_type& sequence_vecs::operator()(std::int32_t i) const {
  return const_cast<sequence_vecs&>(*this)(i);
}

// ---------------------------------------------------------------------------

namespace {

void check_distance(float v) {
  // Written so that NaN fails too.
  if (!(v >= 0.0f && v <= max_float))
    throw range_error("distance " + std::to_string(v) +
                      " outside 0.0 .. 3.40282347E+38");
}

void check_taxa(std::int32_t ntax) {
  if (ntax < 1 || ntax > max_taxa)
    throw range_error("taxon count " + std::to_string(ntax) + " outside 1..5000");
}

}  // namespace

positive_matrix::positive_matrix(std::int32_t n)
    : n_(n),
      values_(std::make_unique_for_overwrite<float[]>(
          static_cast<std::size_t>(n < 0 ? 0 : n) *
          static_cast<std::size_t>(n < 0 ? 0 : n))) {}

positive_matrix::positive_matrix(const positive_matrix& o)
    : n_(o.n_),
      values_(copy_cells(o.values_, static_cast<std::size_t>(o.n_) *
                                        static_cast<std::size_t>(o.n_))) {}

positive_matrix& positive_matrix::operator=(const positive_matrix& o) {
  if (this != &o) *this = positive_matrix(o);
  return *this;
}

void positive_matrix::set(std::int32_t i, std::int32_t j, float v) {
  check_distance(v);
  values_[offset(i, j)] = v;
}

dist_mat_type::dist_mat_type(std::int32_t ntax)
    : labels((check_taxa(ntax), ntax)), distances(ntax), ntax_(ntax) {}

fast_positive_matrix::fast_positive_matrix(std::int32_t size)
    : size_(size),
      values_(std::make_unique_for_overwrite<float[]>(
          static_cast<std::size_t>(size < 0 ? 0 : size))) {}

fast_positive_matrix::fast_positive_matrix(const fast_positive_matrix& o)
    : size_(o.size_),
      values_(copy_cells(o.values_, static_cast<std::size_t>(o.size_))) {}

fast_positive_matrix& fast_positive_matrix::operator=(
    const fast_positive_matrix& o) {
  if (this != &o) *this = fast_positive_matrix(o);
  return *this;
}

void fast_positive_matrix::set(std::int32_t k, float v) {
  if (k < 1 || k > size_)
    throw range_error("value number " + std::to_string(k) + " beyond size " +
                      std::to_string(size_));
  check_distance(v);
  values_[static_cast<std::size_t>(k - 1)] = v;
}

fast_dist_mat_type::fast_dist_mat_type(std::int32_t ntax, std::int32_t size)
    : labels((check_taxa(ntax), ntax)),
      distances((size < 0 ? throw range_error("negative distance matrix size")
                          : size)),
      ntax_(ntax) {}

// ---------------------------------------------------------------------------

text_output::text_output(int fd, std::string name, bool line_buffered,
                         std::size_t capacity)
    : fd_(fd), name_(std::move(name)), line_buffered_(line_buffered),
      cap_(capacity), buf_(std::make_unique_for_overwrite<char[]>(capacity)) {}

text_output::text_output(std::string& sink)
    : sink_(&sink), name_("string"), cap_(std::size_t{1} << 16),
      buf_(std::make_unique_for_overwrite<char[]>(cap_)) {}

text_output::text_output()
    : name_("memory"), in_memory_(true), cap_(std::size_t{1} << 16),
      buf_(std::make_unique_for_overwrite<char[]>(cap_)) {}

text_output::~text_output() {
  try {
    flush();
  } catch (...) {
  }
}

void text_output::put(std::string_view s) {
  if (fd_ >= 0 && s.size() >= std::min<std::size_t>(cap_, 64 * 1024)) {
    // A large text (64 KiB, or the whole buffer if that is smaller: a piece
    // formatted on another thread, say) goes out directly, not through a
    // copy.
    flush();
    write_all(s.data(), s.size());
    s = {};
  }
  while (!s.empty()) {
    if (pos_ == cap_) drain();
    const std::size_t k = std::min(s.size(), cap_ - pos_);
    std::memcpy(buf_.get() + pos_, s.data(), k);
    pos_ += k;
    s.remove_prefix(k);
  }
  if (line_buffered_ && pos_ > 0 && buf_[pos_ - 1] == '\n') flush();
}

void text_output::put_fill(char c, std::size_t n) {
  while (n > 0) {
    if (pos_ == cap_) drain();
    const std::size_t k = std::min(n, cap_ - pos_);
    std::memset(buf_.get() + pos_, c, k);
    pos_ += k;
    n -= k;
  }
}

void text_output::drain() {
  if (!in_memory_) {
    flush();
    return;
  }
  // Callers may reserve up to the capacity at once: doubling gives room.
  const std::size_t bigger = cap_ * 2;
  auto buf = std::make_unique_for_overwrite<char[]>(bigger);
  std::memcpy(buf.get(), buf_.get(), pos_);
  buf_ = std::move(buf);
  cap_ = bigger;
}

void text_output::flush() {
  if (in_memory_) return;
  if (failed_) {
    pos_ = 0;
    if (tolerant_) return;
    throw io_error(std::string("cannot write to ") + name_ + ": " +
                   std::strerror(errno_));
  }
  if (sink_ != nullptr) {
    sink_->append(buf_.get(), pos_);
    pos_ = 0;
    return;
  }
  const std::size_t n = pos_;
  pos_ = 0;
  write_all(buf_.get(), n);
}

void text_output::write_all(const char* data, std::size_t n) {
  if (failed_ && tolerant_) return;
  if (failed_)
    throw io_error(std::string("cannot write to ") + name_ + ": " +
                   std::strerror(errno_));
  std::size_t done = 0;
  while (done < n) {
    const ssize_t k = ::write(fd_, data + done, n - done);
    if (k < 0) {
      if (errno == EINTR) continue;
      failed_ = true;
      errno_ = errno;
      if (tolerant_) return;
      throw io_error(std::string("cannot write to ") + name_ + ": " +
                     std::strerror(errno_));
    }
    done += static_cast<std::size_t>(k);
  }
}

text_output& standard_output() {
  static text_output out(1, "standard output");
  return out;
}

text_output& standard_error() {
  static text_output err(2, "standard error", true, 4096);
  return err;
}

// ---------------------------------------------------------------------------

namespace detail {
namespace {

bool cpu_has_avx2() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
         __builtin_cpu_supports("popcnt");
#else
  return false;
#endif
}

bool& avx2_allowed() {
  static bool allowed = cpu_has_avx2();
  return allowed;
}

}  // namespace

bool use_avx2() { return avx2_allowed(); }

bool use_avx2(bool allowed) {
  const bool was = avx2_allowed();
  avx2_allowed() = allowed && cpu_has_avx2();
  return was;
}

}  // namespace detail

}  // namespace zurud
