// Decoders of compressed input: gzip (ISA-L's inflate where the build has
// it, zlib otherwise; BGZF blocks on several threads), zstd, xz and bzip2.
// Each reads its raw bytes in large aligned pieces and hands text_input
// decoded text a buffer at a time.
#include "zurud/detail/read-decode.hpp"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "zurud/zurud.hpp"

#ifdef ZURUD_HAVE_ISAL
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#endif
#ifdef ZURUD_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#ifdef ZURUD_HAVE_ZSTD
#include <zstd.h>
#include <zstd_errors.h>
#endif
#ifdef ZURUD_HAVE_LZMA
#include <lzma.h>
#endif
#ifdef ZURUD_HAVE_BZIP2
#include <bzlib.h>
#endif

namespace zurud::read::detail {

namespace {

using byte = unsigned char;

constexpr std::size_t raw_size = std::size_t{1} << 18;

const char* name_of(compression_type type) {
  switch (type) {
    case compression_type::GZIP: return "gzip";
    case compression_type::ZSTD: return "zstd";
    case compression_type::XZ: return "xz";
    case compression_type::BZIP2: return "bzip2";
    case compression_type::NONE: break;
  }
  return "uncompressed";
}

bool gzip_magic(const byte* p, std::size_t n) {
  return n >= 2 && p[0] == 0x1f && p[1] == 0x8b;
}

// The raw bytes of a compressed input, read in large pieces: from a file
// descriptor (after the bytes read to tell the compression), or a text held
// whole. ensure(k) makes k bytes contiguous for decoders that take whole
// blocks.
class raw_reader {
 public:
  explicit raw_reader(raw_input raw)
      : fd_(raw.fd), text_(std::move(raw.text)), name_(std::move(raw.name)) {
    if (fd_ >= 0) {
      // The bytes read to tell the compression may fill a whole buffer of
      // the text input's.
      buf_.resize(std::max(raw_size, raw.n));
      if (raw.n > 0) std::memcpy(buf_.data(), raw.first, raw.n);
      end_ = raw.n;
    } else {
      eof_ = true;
    }
  }

  const byte* data() const {
    return fd_ >= 0 ? buf_.data() + pos_
                    : reinterpret_cast<const byte*>(text_.data()) + pos_;
  }
  std::size_t avail() const {
    return (fd_ >= 0 ? end_ : text_.size()) - pos_;
  }
  void consume(std::size_t k) { pos_ += k; }
  const std::string& name() const { return name_; }

  // More raw bytes when all have been consumed; false at the end.
  bool more() {
    if (avail() > 0) return true;
    if (eof_) return false;
    pos_ = end_ = 0;
    end_ = read_some(buf_.data(), buf_.size());
    if (end_ == 0) eof_ = true;
    return end_ > 0;
  }

  // At least k bytes contiguous at data(), unless the input ends first;
  // returns what is there.
  std::size_t ensure(std::size_t k) {
    if (fd_ < 0 || avail() >= k || eof_) return avail();
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
    if (buf_.size() < k) buf_.resize(k);
    while (end_ < k) {
      const std::size_t got = read_some(buf_.data() + end_, buf_.size() - end_);
      if (got == 0) {
        eof_ = true;
        break;
      }
      end_ += got;
    }
    return avail();
  }

 private:
  std::size_t read_some(byte* dst, std::size_t room) {
    for (;;) {
      const ssize_t k = ::read(fd_, dst, room);
      if (k >= 0) return static_cast<std::size_t>(k);
      if (errno != EINTR)
        throw io_error("cannot read " + name_ + ": " + std::strerror(errno));
    }
  }

  int fd_;
  std::string text_;
  std::string name_;
  std::vector<byte> buf_;
  std::size_t pos_ = 0, end_ = 0;
  bool eof_ = false;
};

[[noreturn]] void ends_early(const char* what, const std::string& name) {
  throw end_of_file_error(std::string("the ") + what + " stream of " + name +
                          " ends early");
}

[[noreturn]] void corrupt(const char* what, const std::string& name,
                          const std::string& why) {
  throw format_error(std::string("corrupt ") + what + " data in " + name +
                     ": " + why);
}

// After a gzip member: another member, or the end. Anything else is
// refused rather than dropped.
bool next_gzip_member(raw_reader& raw) {
  if (!raw.more()) return false;
  if (raw.ensure(2) < 2 || !gzip_magic(raw.data(), raw.avail()))
    throw format_error("data after the end of the gzip stream in " +
                       raw.name());
  return true;
}

// ---------------------------------------------------------------------------
// gzip with zlib.

class zlib_gzip final : public decoder {
 public:
  explicit zlib_gzip(std::shared_ptr<raw_reader> raw) : raw_(std::move(raw)) {
    if (inflateInit2(&z_, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
  }
  ~zlib_gzip() override { inflateEnd(&z_); }

  std::size_t decode(char* dst, std::size_t room) override {
    z_.next_out = reinterpret_cast<Bytef*>(dst);
    z_.avail_out = static_cast<uInt>(room);
    while (z_.avail_out == room && !done_) {
      if (raw_->avail() == 0 && !raw_->more()) {
        if (started_) ends_early("gzip", raw_->name());
        done_ = true;
        break;
      }
      started_ = true;
      z_.next_in = const_cast<Bytef*>(raw_->data());
      z_.avail_in = static_cast<uInt>(raw_->avail());
      const int r = ::inflate(&z_, Z_NO_FLUSH);
      raw_->consume(raw_->avail() - z_.avail_in);
      if (r == Z_STREAM_END) {
        started_ = false;
        if (next_gzip_member(*raw_))
          inflateReset(&z_);
        else
          done_ = true;
      } else if (r == Z_MEM_ERROR) {
        throw std::bad_alloc();
      } else if (r != Z_OK && r != Z_BUF_ERROR) {
        corrupt("gzip", raw_->name(),
                z_.msg != nullptr ? z_.msg : "inflate failed");
      }
    }
    return room - z_.avail_out;
  }

 private:
  std::shared_ptr<raw_reader> raw_;
  z_stream z_{};
  bool done_ = false;
  bool started_ = false;
};

// ---------------------------------------------------------------------------
// gzip with ISA-L: the same stream, inflated about twice as fast.

#ifdef ZURUD_HAVE_ISAL
class isal_gzip final : public decoder {
 public:
  explicit isal_gzip(std::shared_ptr<raw_reader> raw)
      : raw_(std::move(raw)), s_(std::make_unique<inflate_state>()) {
    start_member();
  }

  std::size_t decode(char* dst, std::size_t room) override {
    std::size_t got = 0;
    // ISA-L takes at most 4 GB at a time.
    room = std::min<std::size_t>(room, std::uint32_t{1} << 30);
    while (got == 0 && !done_) {
      if (raw_->avail() == 0 && !raw_->more()) {
        if (started_) ends_early("gzip", raw_->name());
        done_ = true;
        break;
      }
      started_ = true;
      s_->next_in = const_cast<byte*>(raw_->data());
      s_->avail_in = static_cast<std::uint32_t>(
          std::min<std::size_t>(raw_->avail(), std::uint32_t{1} << 30));
      const std::uint32_t in = s_->avail_in;
      s_->next_out = reinterpret_cast<byte*>(dst);
      s_->avail_out = static_cast<std::uint32_t>(room);
      const int r = isal_inflate(s_.get());
      raw_->consume(in - s_->avail_in);
      got = room - s_->avail_out;
      if (r < 0)
        corrupt("gzip", raw_->name(),
                r == ISAL_INCORRECT_CHECKSUM ? "incorrect check value"
                                             : "invalid compressed data");
      if (s_->block_state == ISAL_BLOCK_FINISH) {
        started_ = false;
        if (next_gzip_member(*raw_))
          start_member();
        else
          done_ = true;
      }
    }
    return got;
  }

 private:
  void start_member() {
    isal_inflate_init(s_.get());
    s_->crc_flag = ISAL_GZIP;
  }
  std::shared_ptr<raw_reader> raw_;
  std::unique_ptr<inflate_state> s_;
  bool done_ = false;
  bool started_ = false;
};
#endif

std::unique_ptr<decoder> streaming_gzip(std::shared_ptr<raw_reader> raw) {
#ifdef ZURUD_HAVE_ISAL
  return std::make_unique<isal_gzip>(std::move(raw));
#else
  return std::make_unique<zlib_gzip>(std::move(raw));
#endif
}

// ---------------------------------------------------------------------------
// BGZF: gzip as a series of members of at most 64 KiB each, whose header
// gives the member's size. Members are inflated independently, so several
// threads inflate the next ones while the text of the first goes out.

constexpr std::size_t bgzf_header = 18;
constexpr std::size_t bgzf_max = 65536;

// The size of the BGZF member at p (n bytes there), or 0 when p does not
// begin one.
std::size_t bgzf_member_size(const byte* p, std::size_t n) {
  if (n < bgzf_header || p[0] != 0x1f || p[1] != 0x8b || p[2] != 8 ||
      (p[3] & 4) == 0 || p[10] != 6 || p[11] != 0 || p[12] != 'B' ||
      p[13] != 'C' || p[14] != 2 || p[15] != 0)
    return 0;
  return static_cast<std::size_t>(p[16] | (p[17] << 8)) + 1;
}

std::uint32_t le32(const byte* p) {
  return static_cast<std::uint32_t>(p[0]) |
         static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 |
         static_cast<std::uint32_t>(p[3]) << 24;
}

// Inflates one BGZF member's raw deflate data into out: ISA-L where the
// build has it, else libdeflate, else zlib; each checks the member's CRC and
// length.
class member_inflater {
 public:
  member_inflater() {
#if defined(ZURUD_HAVE_ISAL)
    s_ = std::make_unique<inflate_state>();
#elif defined(ZURUD_HAVE_LIBDEFLATE)
    d_ = libdeflate_alloc_decompressor();
    if (d_ == nullptr) throw std::bad_alloc();
#else
    if (inflateInit2(&z_, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
#endif
  }
  ~member_inflater() {
#if defined(ZURUD_HAVE_ISAL)
#elif defined(ZURUD_HAVE_LIBDEFLATE)
    libdeflate_free_decompressor(d_);
#else
    inflateEnd(&z_);
#endif
  }
  member_inflater(const member_inflater&) = delete;
  member_inflater& operator=(const member_inflater&) = delete;

  // The member's text into out (bgzf_max bytes); false when it is corrupt.
  bool inflate(const byte* member, std::size_t size, byte* out,
               std::size_t& out_size) {
    const byte* data = member + bgzf_header;
    const std::size_t n = size - bgzf_header - 8;
    const std::uint32_t crc = le32(member + size - 8);
    const std::uint32_t length = le32(member + size - 4);
    if (length > bgzf_max) return false;
#if defined(ZURUD_HAVE_ISAL)
    isal_inflate_init(s_.get());
    s_->next_in = const_cast<byte*>(data);
    s_->avail_in = static_cast<std::uint32_t>(n);
    s_->next_out = out;
    s_->avail_out = static_cast<std::uint32_t>(bgzf_max);
    if (isal_inflate_stateless(s_.get()) != ISAL_DECOMP_OK) return false;
    out_size = s_->total_out;
    if (out_size != length ||
        crc32_gzip_refl(0, out, static_cast<std::uint64_t>(out_size)) != crc)
      return false;
#elif defined(ZURUD_HAVE_LIBDEFLATE)
    std::size_t actual = 0;
    if (libdeflate_deflate_decompress(d_, data, n, out, bgzf_max, &actual) !=
        LIBDEFLATE_SUCCESS)
      return false;
    out_size = actual;
    if (actual != length || libdeflate_crc32(0, out, actual) != crc)
      return false;
#else
    inflateReset(&z_);
    z_.next_in = const_cast<Bytef*>(data);
    z_.avail_in = static_cast<uInt>(n);
    z_.next_out = out;
    z_.avail_out = static_cast<uInt>(bgzf_max);
    if (::inflate(&z_, Z_FINISH) != Z_STREAM_END) return false;
    out_size = bgzf_max - z_.avail_out;
    if (out_size != length ||
        crc32(0, out, static_cast<uInt>(out_size)) != crc)
      return false;
#endif
    return true;
  }

 private:
#if defined(ZURUD_HAVE_ISAL)
  std::unique_ptr<inflate_state> s_;
#elif defined(ZURUD_HAVE_LIBDEFLATE)
  libdeflate_decompressor* d_ = nullptr;
#else
  z_stream z_{};
#endif
};

class bgzf_gzip final : public decoder {
 public:
  bgzf_gzip(std::shared_ptr<raw_reader> raw, unsigned threads)
      : raw_(std::move(raw)) {
    const std::size_t window = 2 * static_cast<std::size_t>(threads) + 1;
    for (std::size_t i = 0; i < window; ++i)
      slots_.push_back(std::make_unique<slot>());
    inflaters_.resize(threads);
    for (auto& f : inflaters_) f = std::make_unique<member_inflater>();
    for (unsigned t = 0; t < threads; ++t) {
      try {
        workers_.emplace_back([this, t] { work(*inflaters_[t]); });
      } catch (const std::system_error&) {
        break;  // the calling thread inflates what no worker takes
      }
    }
  }

  ~bgzf_gzip() override {
    {
      const std::lock_guard lock(mutex_);
      stop_ = true;
    }
    queued_.notify_all();
    for (std::thread& t : workers_) t.join();
  }

  std::size_t decode(char* dst, std::size_t room) override {
    for (;;) {
      if (rest_ != nullptr) return rest_->decode(dst, room);
      top_up();
      if (next_out_ == next_in_) return 0;  // every member written out
      slot& s = *slots_[next_out_ % slots_.size()];
      wait_for(s);
      if (!s.ok) corrupt("gzip", raw_->name(), "a BGZF block does not inflate");
      const std::size_t k = std::min(room, s.size - s.taken);
      std::memcpy(dst, s.out.data() + s.taken, k);
      s.taken += k;
      if (s.taken == s.size) {
        const std::lock_guard lock(mutex_);
        s.state = slot::FREE;
        ++next_out_;
      }
      if (k > 0) return k;
    }
  }

 private:
  static constexpr std::size_t members_per_slot = 16;
  struct slot {
    enum { FREE, QUEUED, TAKEN, DONE } state = FREE;
    std::vector<byte> in;
    std::vector<std::size_t> ends;  // each member's end in `in`
    std::vector<byte> out = std::vector<byte>(members_per_slot * bgzf_max);
    std::size_t size = 0, taken = 0;
    bool ok = false;
  };

  // Reads members into the free slots, in order, and queues them.
  void top_up() {
    while (!ended_ && next_in_ - next_out_ < slots_.size()) {
      slot& s = *slots_[next_in_ % slots_.size()];
      s.in.clear();
      s.ends.clear();
      // Several members a slot, so that the threads hand over a few times
      // a megabyte rather than at every 64 KiB.
      while (s.ends.size() < members_per_slot) {
        if (!raw_->more()) {
          ended_ = true;
          break;
        }
        const std::size_t have = raw_->ensure(bgzf_header);
        const std::size_t size = bgzf_member_size(raw_->data(), have);
        if (size == 0) {
          // A gzip member of another kind: the rest is one stream,
          // inflated once the members before it are written out.
          if (!gzip_magic(raw_->data(), have))
            throw format_error("data after the end of the gzip stream in " +
                               raw_->name());
          ended_ = true;
          tail_ = true;
          break;
        }
        if (size < bgzf_header + 8 || raw_->ensure(size) < size)
          ends_early("gzip", raw_->name());
        s.in.insert(s.in.end(), raw_->data(), raw_->data() + size);
        s.ends.push_back(s.in.size());
        raw_->consume(size);
      }
      if (s.ends.empty()) break;
      s.taken = 0;
      {
        const std::lock_guard lock(mutex_);
        s.state = slot::QUEUED;
        ++next_in_;
        queue_.push_back(&s);
      }
      queued_.notify_one();
    }
    if (tail_ && next_out_ == next_in_) rest_ = streaming_gzip(raw_);
  }

  // Waits for slot s, inflating queued members here meanwhile when no
  // worker has taken them (or there is no worker).
  void wait_for(slot& s) {
    std::unique_lock lock(mutex_);
    while (s.state != slot::DONE) {
      if (!queue_.empty()) {
        slot* q = queue_.front();
        queue_.pop_front();
        q->state = slot::TAKEN;
        lock.unlock();
        inflate(own_, *q);
        lock.lock();
        q->state = slot::DONE;
        continue;
      }
      done_.wait(lock);
    }
  }

  static void inflate(member_inflater& f, slot& s) {
    s.size = 0;
    s.ok = true;
    std::size_t from = 0;
    for (const std::size_t end : s.ends) {
      std::size_t n = 0;
      if (!f.inflate(s.in.data() + from, end - from, s.out.data() + s.size,
                     n)) {
        s.ok = false;
        return;
      }
      s.size += n;
      from = end;
    }
  }

  void work(member_inflater& f) {
    std::unique_lock lock(mutex_);
    for (;;) {
      queued_.wait(lock, [&] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      slot* s = queue_.front();
      queue_.pop_front();
      s->state = slot::TAKEN;
      lock.unlock();
      inflate(f, *s);
      lock.lock();
      s->state = slot::DONE;
      done_.notify_all();
    }
  }

  std::shared_ptr<raw_reader> raw_;
  std::vector<std::unique_ptr<slot>> slots_;
  std::vector<std::unique_ptr<member_inflater>> inflaters_;
  member_inflater own_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable queued_, done_;
  std::deque<slot*> queue_;
  std::size_t next_in_ = 0, next_out_ = 0;
  bool ended_ = false, tail_ = false, stop_ = false;
  std::unique_ptr<decoder> rest_;
};

// ---------------------------------------------------------------------------
// zstd, xz, bzip2: one stream, or several one after the other.

#ifdef ZURUD_HAVE_ZSTD
class zstd_decoder final : public decoder {
 public:
  explicit zstd_decoder(std::shared_ptr<raw_reader> raw)
      : raw_(std::move(raw)), z_(ZSTD_createDStream()) {
    if (z_ == nullptr) throw std::bad_alloc();
    ZSTD_initDStream(z_);
  }
  ~zstd_decoder() override { ZSTD_freeDStream(z_); }

  std::size_t decode(char* dst, std::size_t room) override {
    ZSTD_outBuffer out{dst, room, 0};
    while (out.pos == 0 && !done_) {
      if (raw_->avail() == 0 && !raw_->more()) {
        if (in_frame_) ends_early("zstd", raw_->name());
        done_ = true;
        break;
      }
      ZSTD_inBuffer in{raw_->data(), raw_->avail(), 0};
      const std::size_t r = ZSTD_decompressStream(z_, &out, &in);
      raw_->consume(in.pos);
      if (ZSTD_isError(r)) {
        if (ZSTD_getErrorCode(r) == ZSTD_error_memory_allocation)
          throw std::bad_alloc();
        corrupt("zstd", raw_->name(), ZSTD_getErrorName(r));
      }
      // 0: a frame ended where the output could take all of it.
      in_frame_ = r != 0;
    }
    return out.pos;
  }

 private:
  std::shared_ptr<raw_reader> raw_;
  ZSTD_DStream* z_;
  bool done_ = false;
  bool in_frame_ = false;
};
#endif

#ifdef ZURUD_HAVE_LZMA
class xz_decoder final : public decoder {
 public:
  explicit xz_decoder(std::shared_ptr<raw_reader> raw) : raw_(std::move(raw)) {
    start();
  }
  ~xz_decoder() override { lzma_end(&s_); }

  std::size_t decode(char* dst, std::size_t room) override {
    s_.next_out = reinterpret_cast<byte*>(dst);
    s_.avail_out = room;
    while (s_.avail_out == room && !done_) {
      lzma_action action = LZMA_RUN;
      if (raw_->avail() == 0 && !raw_->more()) action = LZMA_FINISH;
      s_.next_in = raw_->data();
      s_.avail_in = raw_->avail();
      const lzma_ret r = lzma_code(&s_, action);
      raw_->consume(raw_->avail() - s_.avail_in);
      if (r == LZMA_STREAM_END) {
        // Streams may follow one another, with zero bytes of padding
        // between them; anything else after a stream is refused.
        while (raw_->more() && raw_->data()[0] == 0) raw_->consume(1);
        if (!raw_->more()) {
          done_ = true;
        } else if (raw_->ensure(6) < 6 ||
                   std::memcmp(raw_->data(), "\xfd" "7zXZ\0", 6) != 0) {
          throw format_error("data after the end of the xz stream in " +
                             raw_->name());
        } else {
          byte* const out = s_.next_out;
          const std::size_t out_room = s_.avail_out;
          lzma_end(&s_);
          s_ = LZMA_STREAM_INIT;
          start();
          s_.next_out = out;
          s_.avail_out = out_room;
        }
      } else if (r == LZMA_MEM_ERROR) {
        throw std::bad_alloc();
      } else if (r == LZMA_BUF_ERROR && action == LZMA_FINISH) {
        ends_early("xz", raw_->name());
      } else if (r == LZMA_FORMAT_ERROR || r == LZMA_DATA_ERROR ||
                 r == LZMA_OPTIONS_ERROR ||
                 r == LZMA_UNSUPPORTED_CHECK) {
        corrupt("xz", raw_->name(),
                r == LZMA_FORMAT_ERROR ? "not an xz stream (or data after it)"
                                       : "invalid compressed data");
      } else if (r != LZMA_OK && r != LZMA_BUF_ERROR) {
        corrupt("xz", raw_->name(), "decoding failed");
      }
    }
    return room - s_.avail_out;
  }

 private:
  void start() {
    if (lzma_stream_decoder(&s_, UINT64_MAX, 0) != LZMA_OK)
      throw std::bad_alloc();
  }
  std::shared_ptr<raw_reader> raw_;
  lzma_stream s_ = LZMA_STREAM_INIT;
  bool done_ = false;
};
#endif

#ifdef ZURUD_HAVE_BZIP2
class bzip2_decoder final : public decoder {
 public:
  explicit bzip2_decoder(std::shared_ptr<raw_reader> raw)
      : raw_(std::move(raw)) {
    start();
  }
  ~bzip2_decoder() override { BZ2_bzDecompressEnd(&s_); }

  std::size_t decode(char* dst, std::size_t room) override {
    // bzip2 counts in unsigned int.
    room = std::min<std::size_t>(room, std::size_t{1} << 30);
    s_.next_out = dst;
    s_.avail_out = static_cast<unsigned>(room);
    while (s_.avail_out == room && !done_) {
      if (raw_->avail() == 0 && !raw_->more()) {
        if (started_) ends_early("bzip2", raw_->name());
        done_ = true;
        break;
      }
      started_ = true;
      const std::size_t in = std::min<std::size_t>(raw_->avail(), 1u << 30);
      s_.next_in = const_cast<char*>(
          reinterpret_cast<const char*>(raw_->data()));
      s_.avail_in = static_cast<unsigned>(in);
      const int r = BZ2_bzDecompress(&s_);
      raw_->consume(in - s_.avail_in);
      if (r == BZ_STREAM_END) {
        started_ = false;
        if (!raw_->more()) {
          done_ = true;
        } else if (raw_->ensure(3) < 3 ||
                   std::memcmp(raw_->data(), "BZh", 3) != 0) {
          throw format_error("data after the end of the bzip2 stream in " +
                             raw_->name());
        } else {
          char* const out = s_.next_out;
          const unsigned out_room = s_.avail_out;
          BZ2_bzDecompressEnd(&s_);
          start();
          s_.next_out = out;
          s_.avail_out = out_room;
        }
      } else if (r == BZ_MEM_ERROR) {
        throw std::bad_alloc();
      } else if (r != BZ_OK) {
        corrupt("bzip2", raw_->name(), "invalid compressed data");
      }
    }
    return room - s_.avail_out;
  }

 private:
  void start() {
    s_ = bz_stream{};
    if (BZ2_bzDecompressInit(&s_, 0, 0) != BZ_OK) throw std::bad_alloc();
  }
  std::shared_ptr<raw_reader> raw_;
  bz_stream s_{};
  bool done_ = false;
  bool started_ = false;
};
#endif

[[noreturn, maybe_unused]] void not_built(compression_type type, const std::string& name,
                            const char* library, const char* package) {
  (void)name;  // the caller's message places the failure in the file
  throw io_error(std::string(name_of(type)) +
                 "-compressed input, which this build cannot read: it was "
                 "made without " + library + " (Debian's " + package + ")");
}

}  // namespace

compression_type compression_of(const char* text, std::size_t n) noexcept {
  const auto* p = reinterpret_cast<const byte*>(text);
  if (gzip_magic(p, n)) return compression_type::GZIP;
  if (n >= 4 && p[0] == 0x28 && p[1] == 0xb5 && p[2] == 0x2f && p[3] == 0xfd)
    return compression_type::ZSTD;
  if (n >= 6 && std::memcmp(p, "\xfd" "7zXZ\0", 6) == 0)
    return compression_type::XZ;
  if (n >= 4 && std::memcmp(p, "BZh", 3) == 0 && p[3] >= '1' && p[3] <= '9')
    return compression_type::BZIP2;
  return compression_type::NONE;
}

std::unique_ptr<decoder> make_decoder(compression_type type, raw_input raw,
                                      unsigned threads) {
  const std::string name = raw.name;
  auto reader = std::make_shared<raw_reader>(std::move(raw));
  switch (type) {
    case compression_type::GZIP: {
      const std::size_t have = reader->ensure(bgzf_header);
      if (threads > 1 && bgzf_member_size(reader->data(), have) != 0)
        return std::make_unique<bgzf_gzip>(std::move(reader), threads);
      return streaming_gzip(std::move(reader));
    }
    case compression_type::ZSTD:
#ifdef ZURUD_HAVE_ZSTD
      return std::make_unique<zstd_decoder>(std::move(reader));
#else
      not_built(type, name, "libzstd", "libzstd-dev");
#endif
    case compression_type::XZ:
#ifdef ZURUD_HAVE_LZMA
      return std::make_unique<xz_decoder>(std::move(reader));
#else
      not_built(type, name, "liblzma", "liblzma-dev");
#endif
    case compression_type::BZIP2:
#ifdef ZURUD_HAVE_BZIP2
      return std::make_unique<bzip2_decoder>(std::move(reader));
#else
      not_built(type, name, "libbz2", "libbz2-dev");
#endif
    case compression_type::NONE:
      break;
  }
  throw std::logic_error("no decoder for uncompressed input");
}

std::string decoders_built() {
  std::string s = "gzip (";
#ifdef ZURUD_HAVE_ISAL
  s += "isa-l";
#else
  s += "zlib";
#endif
#if defined(ZURUD_HAVE_ISAL)
  s += ", BGZF blocks with isa-l";
#elif defined(ZURUD_HAVE_LIBDEFLATE)
  s += ", BGZF blocks with libdeflate";
#else
  s += ", BGZF blocks with zlib";
#endif
  s += ")";
#ifdef ZURUD_HAVE_ZSTD
  s += ", zstd";
#endif
#ifdef ZURUD_HAVE_LZMA
  s += ", xz";
#endif
#ifdef ZURUD_HAVE_BZIP2
  s += ", bzip2";
#endif
  return s;
}

}  // namespace zurud::read::detail
