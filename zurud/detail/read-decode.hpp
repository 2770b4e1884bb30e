// Compressed input: the formats told apart by their first bytes, and the
// decoders that turn a compressed stream back into text for text_input.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zurud::read::detail {

/// The compressions a data or association file may be kept in.
enum class compression_type : std::uint8_t { NONE, GZIP, ZSTD, XZ, BZIP2 };

/// Bytes that tell every compression apart (the xz magic is the longest).
inline constexpr std::size_t magic_length = 6;

/// The compression whose magic bytes begin p[0..n); NONE when they begin
/// none (or n is too short to hold one).
compression_type compression_of(const char* p, std::size_t n) noexcept;

/// A compressed stream being decoded: raw bytes from a file descriptor, or
/// from a text held whole, turned into the text they stand for. Failures
/// name the input: format_error for corrupt data or data after the end of
/// the stream, end_of_file_error for a stream that ends early, io_error for
/// a read the system refuses, std::bad_alloc when memory runs out.
class decoder {
 public:
  virtual ~decoder() = default;
  /// Up to `room` decoded bytes into dst; 0 once the stream has ended.
  virtual std::size_t decode(char* dst, std::size_t room) = 0;
};

/// Where a decoder takes its raw bytes from: `fd` (not owned) after the
/// `n` bytes at `first` that were read from it to tell the compression, or,
/// with fd < 0, the whole of `text`. `name` is used in messages.
struct raw_input {
  int fd = -1;
  const char* first = nullptr;
  std::size_t n = 0;
  std::string text;
  std::string name;
};

/// The decoder of `type` (not NONE). io_error naming the library when this
/// build was made without the one the compression needs. A gzip stream of
/// BGZF blocks (as bgzip writes them) is decoded on up to `threads`
/// threads (1: on the calling thread only), the text the same.
std::unique_ptr<decoder> make_decoder(compression_type type, raw_input raw,
                                      unsigned threads);

/// The libraries this build decodes with, for --version texts and tests:
/// e.g. "gzip (isa-l), zstd, xz, bzip2".
std::string decoders_built();

}  // namespace zurud::read::detail
