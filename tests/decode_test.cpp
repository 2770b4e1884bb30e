#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <functional>
#include <string>

#include "tests/gzip_util.hpp"
#include "zurud/detail/read-decode.hpp"
#include "zurud/zurud-read.hpp"

#ifdef ZURUD_HAVE_ZSTD
#include <zstd.h>
#endif
#ifdef ZURUD_HAVE_LZMA
#include <lzma.h>
#endif
#ifdef ZURUD_HAVE_BZIP2
#include <bzlib.h>
#endif

namespace {

using zurud::read::text_input;

// `text` as BGZF: gzip members of at most `piece` bytes of text each, with
// the BC field that gives each member's size, then the empty end member.
std::string bgzf(std::string_view text, std::size_t piece) {
  std::string out;
  auto member = [&](std::string_view part) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string data(deflateBound(&z, static_cast<uLong>(part.size())) + 16,
                     '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(part.data()));
    z.avail_in = static_cast<uInt>(part.size());
    z.next_out = reinterpret_cast<Bytef*>(data.data());
    z.avail_out = static_cast<uInt>(data.size());
    deflate(&z, Z_FINISH);
    data.resize(z.total_out);
    deflateEnd(&z);
    const std::size_t size = 18 + data.size() + 8 - 1;
    const unsigned char head[18] = {
        0x1f, 0x8b, 8, 4, 0, 0, 0, 0, 0, 0xff, 6, 0, 'B', 'C', 2, 0,
        static_cast<unsigned char>(size & 0xff),
        static_cast<unsigned char>(size >> 8)};
    out.append(reinterpret_cast<const char*>(head), 18);
    out += data;
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(part.data()),
              static_cast<uInt>(part.size())));
    const auto n = static_cast<std::uint32_t>(part.size());
    for (std::uint32_t v : {crc, n})
      for (int b = 0; b < 4; ++b) out += static_cast<char>((v >> (8 * b)) & 0xff);
  };
  for (std::size_t i = 0; i < text.size(); i += piece)
    member(text.substr(i, piece));
  member({});
  return out;
}

#ifdef ZURUD_HAVE_ZSTD
std::string zstd(std::string_view text) {
  std::string out(ZSTD_compressBound(text.size()), '\0');
  out.resize(ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3));
  return out;
}
#endif
#ifdef ZURUD_HAVE_LZMA
std::string xz(std::string_view text) {
  std::string out(lzma_stream_buffer_bound(text.size()), '\0');
  std::size_t pos = 0;
  lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr,
                          reinterpret_cast<const uint8_t*>(text.data()),
                          text.size(), reinterpret_cast<uint8_t*>(out.data()),
                          &pos, out.size());
  out.resize(pos);
  return out;
}
#endif
#ifdef ZURUD_HAVE_BZIP2
std::string bzip2(std::string_view text) {
  std::string out(text.size() + text.size() / 100 + 700, '\0');
  auto n = static_cast<unsigned>(out.size());
  BZ2_bzBuffToBuffCompress(out.data(), &n, const_cast<char*>(text.data()),
                           static_cast<unsigned>(text.size()), 9, 0, 0);
  out.resize(n);
  return out;
}
#endif

// Every character the input holds, read through the text input.
std::string all_of(text_input& in) {
  std::string text;
  for (std::string_view v; !(v = in.peek_buffer()).empty();) {
    text += v;
    in.consume(v.size());
  }
  return text;
}

// The same bytes read from a file, as a named file or standard input
// delivers them.
std::string through_file(const std::string& bytes, unsigned threads) {
  std::FILE* f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fflush(f);
  struct closer {
    std::FILE* f;
    ~closer() { std::fclose(f); }
  } close_f{f};
  text_input in = text_input::open("/dev/fd/" + std::to_string(fileno(f)));
  in.decoder_threads(threads);
  return all_of(in);
}

// A matrix long enough for many BGZF members and several text buffers.
std::string sample_text() {
  std::string text = " 300 1000\n";
  for (int i = 0; i < 300; ++i) {
    text += "taxon" + std::to_string(i) + " ";
    for (int j = 0; j < 1000; ++j) text += "acgt"[(i * 7 + j * j) % 4];
    text += '\n';
  }
  return text;
}

struct compressor {
  const char* name;
  std::function<std::string(std::string_view)> compress;
};

std::vector<compressor> compressors() {
  std::vector<compressor> c = {
      {"gzip", [](std::string_view t) { return gzipped(t); }},
      {"gzip members", [](std::string_view t) {
         return gzipped(t.substr(0, t.size() / 2)) + gzipped(t.substr(t.size() / 2));
       }},
      {"bgzf", [](std::string_view t) { return bgzf(t, 65280); }},
      {"bgzf small members", [](std::string_view t) { return bgzf(t, 977); }},
  };
#ifdef ZURUD_HAVE_ZSTD
  c.push_back({"zstd", [](std::string_view t) { return zstd(t); }});
  c.push_back({"zstd frames", [](std::string_view t) {
                 return zstd(t.substr(0, 1000)) + zstd(t.substr(1000));
               }});
#endif
#ifdef ZURUD_HAVE_LZMA
  c.push_back({"xz", [](std::string_view t) { return xz(t); }});
  c.push_back({"xz streams", [](std::string_view t) {
                 return xz(t.substr(0, 1000)) + xz(t.substr(1000));
               }});
#endif
#ifdef ZURUD_HAVE_BZIP2
  c.push_back({"bzip2", [](std::string_view t) { return bzip2(t); }});
  c.push_back({"bzip2 streams", [](std::string_view t) {
                 return bzip2(t.substr(0, 1000)) + bzip2(t.substr(1000));
               }});
#endif
  return c;
}

TEST(decoders, every_compression_reads_as_the_text_from_memory_and_file) {
  const std::string text = sample_text();
  for (const compressor& c : compressors()) {
    SCOPED_TRACE(c.name);
    const std::string bytes = c.compress(text);
    text_input in(bytes, "x");
    EXPECT_TRUE(all_of(in) == text);
    for (unsigned threads : {1u, 2u, 5u}) {
      SCOPED_TRACE(threads);
      EXPECT_TRUE(through_file(bytes, threads) == text);
    }
  }
}

TEST(decoders, a_stream_larger_than_the_first_read_reads_whole) {
  // Compresses poorly, so that the raw bytes fill more than the first read
  // of the text input, which tells the compression.
  std::string text;
  std::uint64_t x = 88172645463325252ull;
  for (int i = 0; i < 900000; ++i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    text += static_cast<char>('!' + x % 90);
  }
  for (const compressor& c : compressors()) {
    SCOPED_TRACE(c.name);
    const std::string bytes = c.compress(text);
    ASSERT_GT(bytes.size(), std::size_t{300000});
    EXPECT_TRUE(through_file(bytes, 2) == text);
  }
}

TEST(decoders, a_stream_cut_short_corrupt_or_followed_by_text_fails) {
  const std::string text = sample_text();
  for (const compressor& c : compressors()) {
    SCOPED_TRACE(c.name);
    const std::string bytes = c.compress(text);
    for (unsigned threads : {1u, 3u}) {
      const std::string cut = bytes.substr(0, bytes.size() * 2 / 3);
      EXPECT_THROW(through_file(cut, threads), zurud::end_of_file_error);
      std::string flipped = bytes;
      flipped[bytes.size() / 2] ^= 0x55;
      flipped[bytes.size() / 2 + 7] ^= 0x55;
      EXPECT_THROW(through_file(flipped, threads), zurud::error);
      EXPECT_THROW(through_file(bytes + "tail\n", threads),
                   zurud::format_error);
    }
  }
}

TEST(decoders, magic_bytes_tell_the_compressions_apart) {
  using zurud::read::detail::compression_of;
  using zurud::read::detail::compression_type;
  const struct {
    std::string bytes;
    compression_type type;
  } cases[] = {
      {"\x1f\x8b\x08", compression_type::GZIP},
      {std::string("\x28\xb5\x2f\xfd\x00", 5), compression_type::ZSTD},
      {std::string("\xfd" "7zXZ\0", 6), compression_type::XZ},
      {"BZh9", compression_type::BZIP2},
      {"BZh ", compression_type::NONE},  // a label that begins "BZh"
      {"BZ", compression_type::NONE},
      {" 2 4\n", compression_type::NONE},
      {"\x1f", compression_type::NONE},
  };
  for (const auto& c : cases)
    EXPECT_EQ(compression_of(c.bytes.data(), c.bytes.size()), c.type)
        << c.bytes;
}

TEST(decoders, short_plain_text_that_begins_like_a_magic_is_text) {
  for (const std::string text : {"B", "BZ", "BZh", "\x1f"}) {
    EXPECT_EQ(through_file(text, 1), text);
  }
}

}  // namespace
