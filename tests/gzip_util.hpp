// gzip streams made in memory, for tests and fuzz targets of gzip input.
#pragma once
#include <zlib.h>

#include <string>
#include <string_view>

/// `text` as one gzip member (zlib's deflate at `level`).
inline std::string gzipped(std::string_view text, int level = 6) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}
