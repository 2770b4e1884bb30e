#include "zurud/zurud-read.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string_view>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "zurud/detail/read-decode.hpp"
#include "zurud/detail/read-scan.hpp"

namespace zurud::read {

namespace {

// Reads are whole pages into a page-aligned buffer: on some processors the
// kernel's copy into a destination that is not 64-byte aligned is several
// times slower. The slack in front holds the unread rest of the previous
// buffer (a few characters at most) so that the next read lands aligned.
constexpr std::size_t page = 4096;
constexpr std::size_t file_buffer_size = std::size_t{1} << 18;
constexpr std::size_t buffer_capacity = file_buffer_size + page;
constexpr std::size_t alignment = 64;

// The row scan reads whole vector blocks, up to 64 bytes past the text.
constexpr std::size_t scan_slack = 64;

std::unique_ptr<char[], detail::buffer_deleter> new_buffer(std::size_t n) {
  return std::unique_ptr<char[], detail::buffer_deleter>(static_cast<char*>(
      ::operator new[](n + scan_slack, std::align_val_t{page})));
}

// Whether the n bytes at p may begin the magic of a compression, so that
// more must be read to tell: the probe stops at the first byte that rules
// every one out, and a short plain text is never waited on.
bool may_begin_magic(const char* p, std::size_t n) {
  static constexpr std::string_view magics[] = {
      {"\x1f\x8b", 2}, {"\x28\xb5\x2f\xfd", 4}, {"\xfd" "7zXZ\0", 6}, {"BZh", 3}};
  for (const std::string_view m : magics)
    if (std::string_view(p, std::min(n, m.size())) == m.substr(0, std::min(n, m.size())))
      return true;
  return false;
}

// One read() of at most `room` bytes, retried on EINTR; 0 at the end.
std::size_t read_some(int fd, char* dst, std::size_t room,
                      const std::string& name) {
  for (;;) {
    const ssize_t k = ::read(fd, dst, room);
    if (k >= 0) return static_cast<std::size_t>(k);
    if (errno != EINTR)
      throw io_error("cannot read " + name + ": " + std::strerror(errno));
  }
}

// Whole pages where the room allows: the kernel then copies page by page.
std::size_t whole_pages(std::size_t room) {
  return room >= page ? room / page * page : room;
}

}  // namespace

namespace detail {

fd_handle::fd_handle(fd_handle&& o) noexcept
    : fd_(std::exchange(o.fd_, -1)), owns_(std::exchange(o.owns_, false)) {}

fd_handle& fd_handle::operator=(fd_handle&& o) noexcept {
  if (this != &o) {
    if (owns_ && fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(o.fd_, -1);
    owns_ = std::exchange(o.owns_, false);
  }
  return *this;
}

fd_handle::~fd_handle() {
  if (owns_ && fd_ >= 0) ::close(fd_);
}

void buffer_deleter::operator()(char* p) const noexcept {
  ::operator delete[](p, std::align_val_t{page});
}

// One buffer in flight: the thread reads ahead_size bytes (whole pages)
// into buf + page, so that the unread rest of the buffer being used can be
// put in front of it, and the two buffers are then swapped. The buffers are
// larger than the plain one: every hand-over between the threads costs two
// wake-ups, which on a busy machine add up.
constexpr std::size_t ahead_size = std::size_t{1} << 20;
constexpr std::size_t ahead_capacity = ahead_size + page;

struct read_ahead_state {
  explicit read_ahead_state(int fd_)
      : fd(fd_), buf(new_buffer(ahead_capacity)),
        spare(new_buffer(ahead_capacity)) {
    thread = std::thread([this] { run(); });
  }
  ~read_ahead_state() {
    {
      const std::lock_guard lock(mutex);
      stop = true;
    }
    wake.notify_all();
    thread.join();
  }

  void run() {
    std::unique_lock lock(mutex);
    for (;;) {
      wake.wait(lock, [&] { return stop || wanted; });
      if (stop) return;
      wanted = false;
      lock.unlock();
      int e = 0;
      const ssize_t k = read_into_buffer(e);
      lock.lock();
      got = k;
      err = e;
      done = true;
      lock.unlock();
      wake.notify_all();
      lock.lock();
    }
  }

  ssize_t read_into_buffer(int& error) {
    ssize_t k;
    do {
      k = ::read(fd, buf.get() + page, ahead_size);
    } while (k < 0 && errno == EINTR);
    error = errno;
    return k;
  }

  // Asks for the next buffer (the thread must be idle).
  void request() {
    {
      const std::lock_guard lock(mutex);
      wanted = true;
      done = false;
    }
    wake.notify_all();
  }

  // Waits for the buffer asked for; returns read()'s result and errno. A
  // request the thread has not begun yet (it has no processor: the machine
  // is busy) is taken back and read here instead of waiting for it.
  ssize_t wait(int& error) {
    std::unique_lock lock(mutex);
    if (wanted) {
      wanted = false;
      lock.unlock();
      return read_into_buffer(error);
    }
    wake.wait(lock, [&] { return done; });
    done = false;
    error = err;
    return got;
  }

  int fd;
  std::unique_ptr<char[], buffer_deleter> buf;
  // Takes the place of the text input's own smaller buffer at the first
  // swap.
  std::unique_ptr<char[], buffer_deleter> spare;
  std::mutex mutex;
  std::condition_variable wake;
  bool wanted = false, done = false, stop = false;
  bool pending = false;  // a request is out (used by the reading thread only)
  ssize_t got = 0;
  int err = 0;
  std::thread thread;
};

void read_ahead_deleter::operator()(read_ahead_state* r) const noexcept {
  delete r;
}

void decoder_deleter::operator()(decoder* d) const noexcept { delete d; }

}  // namespace detail

// ---------------------------------------------------------------------------
// Buffer management.

text_input::text_input(std::string_view text, std::string name)
    : probed_(true), at_eof_(true), name_(std::move(name)) {
  const detail::compression_type type =
      detail::compression_of(text.data(), text.size());
  if (type != detail::compression_type::NONE) {
    at_eof_ = false;
    buf_ = new_buffer(buffer_capacity);
    cap_ = buffer_capacity;
    detail::raw_input raw;
    raw.text = std::string(text);
    raw.name = name_;
    decoder_.reset(detail::make_decoder(type, std::move(raw), 1).release());
    return;
  }
  cap_ = text.size() + 1;
  buf_ = new_buffer(cap_);
  end_ = text.size();
  // An empty view may have no data at all, and memcpy from null is undefined
  // even for no bytes.
  if (!text.empty()) std::memcpy(buf_.get(), text.data(), text.size());
  mend_line_ends(0);
}

text_input::text_input(int fd, std::string name, bool owns_fd)
    : file_(fd, owns_fd), name_(std::move(name)),
      buf_(new_buffer(buffer_capacity)), cap_(buffer_capacity) {}

text_input text_input::open(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0)
    throw open_error("cannot open " + path + ": " + std::strerror(errno));
  detail::fd_handle handle(fd, true);
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
    throw open_error("cannot open " + path + ": it is a folder");
  text_input in(fd, path, false);
  in.file_ = std::move(handle);
  return in;
}

text_input text_input::standard_input() {
  return text_input(0, "standard input", false);
}

void text_input::compact() {
  // Count the line feeds of what is dropped so that line() stays right.
  lines_ += read::detail::kernels().count_line_ends(buf_.get() + counted_,
                                                    buf_.get() + pos_);
  const std::size_t rest = end_ - pos_;
  const std::size_t to = (alignment - rest % alignment) % alignment;
  std::memmove(buf_.get() + to, buf_.get() + pos_, rest);
  origin_ += static_cast<std::int64_t>(pos_) - static_cast<std::int64_t>(to);
  pos_ = counted_ = to;
  end_ = to + rest;
}

std::size_t text_input::refill(std::size_t room) {
  if (decoder_) return decoder_->decode(buf_.get() + end_, room);
  if (ahead_) return refill_ahead();
  if (ahead_wanted_ && probed_) {
    ahead_wanted_ = false;
    struct stat st;
    if (::fstat(file_.get(), &st) == 0 && S_ISREG(st.st_mode)) {
      try {
        ahead_.reset(new detail::read_ahead_state(file_.get()));
      } catch (const std::system_error&) {
        // No thread to be had: read as before.
      }
      if (ahead_) return refill_ahead();
    }
  }
  const std::size_t k =
      read_some(file_.get(), buf_.get() + end_, whole_pages(room), name_);
  if (!probed_) {
    // The first bytes decide whether the stream is compressed. Up to six
    // are needed; a pipe may deliver them a few at a time.
    char* const first = buf_.get() + end_;
    std::size_t have = k;
    while (have > 0 && have < detail::magic_length &&
           may_begin_magic(first, have)) {
      const std::size_t more_bytes = read_some(
          file_.get(), first + have, whole_pages(room) - have, name_);
      if (more_bytes == 0) break;
      have += more_bytes;
    }
    probed_ = true;
    const detail::compression_type type =
        detail::compression_of(first, have);
    if (type != detail::compression_type::NONE) {
      detail::raw_input raw;
      raw.fd = file_.get();
      raw.first = first;
      raw.n = have;
      raw.name = name_;
      decoder_.reset(
          detail::make_decoder(type, std::move(raw), decoder_threads_)
              .release());
      return decoder_->decode(first, room);
    }
    return have;
  }
  return k;
}

std::size_t text_input::refill_ahead() {
  detail::read_ahead_state& a = *ahead_;
  if (!a.pending) {
    a.request();
    a.pending = true;
  }
  int e = 0;
  const ssize_t k = a.wait(e);
  a.pending = false;
  if (k < 0)
    throw io_error("cannot read " + name_ + ": " + std::strerror(e));
  if (k == 0) return 0;
  // The rest left by compact() goes in front of the new text, then the
  // buffers change places and the next read starts at once. fill() never
  // wants more than a page, so the rest always fits in front.
  const std::size_t rest = end_ - pos_;
  char* const front = a.buf.get() + page - rest;
  std::memcpy(front, buf_.get() + pos_, rest);
  origin_ += static_cast<std::int64_t>(pos_) -
             static_cast<std::int64_t>(page - rest);
  pos_ = counted_ = page - rest;
  end_ = page;
  std::swap(buf_, a.buf);
  cap_ = detail::ahead_capacity;
  if (a.spare) a.buf = std::move(a.spare);
  a.request();
  a.pending = true;
  return static_cast<std::size_t>(k);
}

std::size_t text_input::fill(std::size_t want) {
  while (end_ - pos_ < want && !at_eof_) {
    // Only a few characters are ever left when more are wanted, so moving
    // them costs nothing and every read starts on a boundary.
    compact();
    const std::size_t k = refill(cap_ - end_);
    if (k == 0) {
      at_eof_ = true;
    } else {
      const std::size_t from = end_;  // after refill, which may move the text
      end_ += k;
      if (ends_ != line_ends::LINE_FEED) mend_line_ends(from);
      if (progress_ != nullptr) report();
    }
  }
  return end_ - pos_;
}

void text_input::report() {
  progress_->text.store(origin_ + static_cast<std::int64_t>(end_),
                        std::memory_order_relaxed);
  // The file's own position: compressed bytes for compressed input. One
  // call a buffer of text.
  const off_t at = ::lseek(file_.get(), 0, SEEK_CUR);
  if (at >= 0) progress_->file.store(at, std::memory_order_relaxed);
}

void text_input::report_to(read_progress* progress) {
  progress_ = progress;
  if (progress_ == nullptr) return;
  struct stat st;
  if (file_.get() >= 0 && ::fstat(file_.get(), &st) == 0 &&
      S_ISREG(st.st_mode))
    progress_->file_size.store(st.st_size, std::memory_order_relaxed);
}

// Files saved on old Macs, and by some spreadsheets, end their lines with a
// carriage return alone. Such a file is told by its first line end, and its
// carriage returns become line feeds as the text arrives, so that every
// reader and the row scan see the lines they hold. A file whose first line
// ends in a line feed (or carriage returns and a line feed) is left as it
// is, at no cost: its carriage returns stay whitespace, as in DOS files.
void text_input::mend_line_ends(std::size_t from) {
  char* const p = buf_.get();
  if (cr_pending_) {
    // The carriage return that ended the last text was taken for a line
    // end before the next character was known: a line feed there belongs
    // to it.
    cr_pending_ = false;
    if (from < end_ && p[from] == '\n') {
      std::memmove(p + from, p + from + 1, end_ - from - 1);
      --end_;
    }
  }
  if (ends_ == line_ends::UNKNOWN) {
    std::size_t i = from;
    while (i < end_ && p[i] != '\n' && p[i] != '\r') ++i;
    if (i == end_) return;
    std::size_t j = i;
    while (j < end_ && p[j] == '\r') ++j;
    if (j < end_ && p[j] == '\n') {
      ends_ = line_ends::LINE_FEED;
      return;
    }
    ends_ = line_ends::CARRIAGE_RETURN;
    from = i;
  }
  char* const e = p + end_;
  for (char* c = p + from;
       (c = static_cast<char*>(
            std::memchr(c, '\r', static_cast<std::size_t>(e - c)))) != nullptr;
       ++c) {
    if (c + 1 == e) {
      *c = '\n';
      cr_pending_ = !at_eof_;
    } else if (c[1] != '\n') {
      *c = '\n';
    }
  }
}

std::int64_t text_input::line() {
  // What is counted stays counted: a reader that asks at every record (a
  // FASTA header) counts each line end once, not once a record.
  lines_ += read::detail::kernels().count_line_ends(buf_.get() + counted_,
                                                    buf_.get() + pos_);
  counted_ = pos_;
  return lines_ + 1;
}

void text_input::eof(const char* what) const {
  throw end_of_file_error(std::string("input ended ") + what);
}

void text_input::pass_page_break() {
  if (more() && buf_[pos_] == '\f') ++pos_;
}

bool text_input::skip_byte_order_mark() {
  if (position() != 0 || fill(3) < 3) return false;
  if (std::memcmp(buf_.get() + pos_, "\xEF\xBB\xBF", 3) != 0) return false;
  pos_ += 3;
  return true;
}

std::string_view text_input::peek_line() {
  if (!more()) return {};
  const char* p = buf_.get() + pos_;
  const void* nl = std::memchr(p, '\n', end_ - pos_);
  const std::size_t n =
      nl != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nl) - p)
                    : end_ - pos_;
  return {p, n};
}

std::string_view text_input::peek_buffer() {
  if (!more()) return {};
  return {buf_.get() + pos_, end_ - pos_};
}

std::string_view text_input::peek(std::size_t n) {
  n = std::min(fill(std::min(n, page)), std::min(n, page));
  return {buf_.get() + pos_, n};  // after fill, which may move the text
}

// ---------------------------------------------------------------------------
// Primitive operations.

char text_input::read_char() {
  for (;;) {
    if (!more()) eof("where a character was expected");
    const char c = buf_[pos_++];
    if (c != '\n') return c;
    pass_page_break();
  }
}

bool text_input::end_of_line() { return !more() || buf_[pos_] == '\n'; }

bool text_input::exhausted() { return !more(); }

bool text_input::end_of_input() {
  const std::size_t n = fill(3);
  const char* p = buf_.get() + pos_;
  return n == 0 || (n == 1 && p[0] == '\n') ||
         (n == 2 && p[0] == '\n' && p[1] == '\f');
}

void text_input::skip_line() {
  if (!more()) eof("where a line was to be skipped");
  for (;;) {
    const char* p = buf_.get() + pos_;
    const void* nl = std::memchr(p, '\n', end_ - pos_);
    if (nl != nullptr) {
      pos_ += static_cast<std::size_t>(static_cast<const char*>(nl) - p) + 1;
      pass_page_break();
      return;
    }
    pos_ = end_;
    if (!more()) return;  // a last line without line feed counts as ended
  }
}

std::string text_input::read_line(std::size_t capacity) {
  if (!more()) eof("where a line was expected");
  std::string line;
  while (line.size() < capacity) {
    if (!more()) return line;
    const char* p = buf_.get() + pos_;
    const std::size_t n = std::min(end_ - pos_, capacity - line.size());
    const void* nl = std::memchr(p, '\n', n);
    if (nl != nullptr) {
      const auto k = static_cast<std::size_t>(static_cast<const char*>(nl) - p);
      line.append(p, k);
      pos_ += k + 1;
      pass_page_break();
      return line;
    }
    line.append(p, n);
    pos_ += n;
  }
  // The buffer is full. A line of exactly `capacity` characters still has
  // its line end consumed; a longer one leaves its rest for the next read.
  if (more() && buf_[pos_] == '\n') {
    ++pos_;
    pass_page_break();
  }
  return line;
}

using read::detail::cell_case;
using read::detail::finish_cells;
using read::detail::scan_case;

void text_input::read_black(char* dst, std::size_t n) {
  read_black(dst, n, char_mapping());
}

void text_input::count_lines_so_far() {
  lines_ += read::detail::kernels().count_line_ends(buf_.get() + counted_,
                                                    buf_.get() + pos_);
  counted_ = pos_;
}

void text_input::scanned(read::detail::row_scan& s) {
  pos_ = counted_ = static_cast<std::size_t>(s.p - buf_.get());
  lines_ += s.lines;
  s.lines = 0;
}

void text_input::read_black(char* dst, std::size_t n,
                            const char_mapping& map) {
  const cell_case how = scan_case(map);
  const auto copy = read::detail::kernels().copy_black[static_cast<int>(how)];
  read::detail::row_scan s{nullptr, nullptr, dst, n};
  count_lines_so_far();
  while (s.n > 0) {
    if (!more()) eof("inside a matrix row");
    s.p = buf_.get() + pos_;
    s.e = buf_.get() + end_;
    copy(s);
    scanned(s);
  }
  finish_cells(dst, n, map);
}

void text_input::skip_black(std::size_t n) {
  const auto skip = read::detail::kernels().skip_black;
  read::detail::row_scan s{nullptr, nullptr, nullptr, n};
  count_lines_so_far();
  while (s.n > 0) {
    if (!more()) eof("inside a matrix row");
    s.p = buf_.get() + pos_;
    s.e = buf_.get() + end_;
    skip(s);
    scanned(s);
  }
}

std::size_t text_input::read_black_in_line(char* dst, std::size_t n,
                                           const char_mapping& map) {
  const cell_case how = scan_case(map);
  const auto& k = read::detail::kernels();
  const auto copy = k.copy_black[static_cast<int>(how)];
  read::detail::row_scan s{nullptr, nullptr, dst, n};
  count_lines_so_far();
  while (s.n > 0 && more()) {
    const char* p = buf_.get() + pos_;
    const void* nl = std::memchr(p, '\n', end_ - pos_);
    s.p = p;
    s.e = nl != nullptr ? static_cast<const char*>(nl) : buf_.get() + end_;
    if (dst != nullptr) {
      copy(s);
    } else {
      k.skip_black(s);
    }
    scanned(s);
    if (nl != nullptr && s.p == nl) break;  // the line end stays unread
  }
  const std::size_t stored = n - s.n;
  if (dst != nullptr) finish_cells(dst, stored, map);
  return stored;
}

bool text_input::skip_members(const char_set& set) {
  while (more()) {
    const char c = buf_[pos_];
    if (c != '\n' && !set.contains(c)) return false;
    ++pos_;
  }
  return true;
}

namespace detail {

void populate_now(void* first, std::size_t n) {
#ifdef MADV_POPULATE_WRITE
  const auto start = reinterpret_cast<std::uintptr_t>(first) & ~(page - 1);
  const auto end = reinterpret_cast<std::uintptr_t>(first) + n;
  // A failure only means the caller faults the pages in itself.
  (void)::madvise(reinterpret_cast<void*>(start), end - start,
                  MADV_POPULATE_WRITE);
#else
  (void)first;
  (void)n;
#endif
}

page_populator::page_populator(void* first, std::size_t n) {
#ifdef MADV_POPULATE_WRITE
  // Pieces of 4 MiB (two huge pages): small enough to stop soon after the
  // reader fails, large enough that the calls cost nothing.
  constexpr std::uintptr_t piece = std::uintptr_t{1} << 22;
  constexpr std::uintptr_t page_mask = page - 1;
  const auto start = reinterpret_cast<std::uintptr_t>(first) & ~page_mask;
  const auto end = reinterpret_cast<std::uintptr_t>(first) + n;
  try {
    thread_ = std::thread([this, start, end] {
      for (std::uintptr_t p = start; p < end && !stop_.load(std::memory_order_relaxed);
           p += piece) {
        const std::uintptr_t len = end - p < piece ? end - p : piece;
        // A failure (an old kernel, memory the system will not give now)
        // only means the caller faults the pages in itself.
        if (::madvise(reinterpret_cast<void*>(p), len, MADV_POPULATE_WRITE) != 0)
          return;
      }
    });
  } catch (const std::system_error&) {
  }
#else
  (void)first;
  (void)n;
#endif
}

page_populator::~page_populator() {
  stop_.store(true, std::memory_order_relaxed);
  if (thread_.joinable()) thread_.join();
}

}  // namespace detail

}  // namespace zurud::read
