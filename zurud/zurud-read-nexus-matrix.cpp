#include "zurud/zurud-read.hpp"

#include <algorithm>
#include <new>
#include <string>
#include <string_view>

#include "zurud/detail/read-nexus.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZURUD_NEXUS_AVX2 1
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zurud::read::detail::nexus {

#ifdef ZURUD_NEXUS_AVX2
// The same test as find's, 32 bytes at a time; the rest goes to find.
__attribute__((target("avx2"))) std::size_t stop_set::find_avx2(
    const char* p, std::size_t n) const {
  const __m256i bit5 = _mm256_set1_epi8(0x20);
  const __m256i not_bit0 = _mm256_set1_epi8(~1);
  const __m256i open = _mm256_set1_epi8('{'), close = _mm256_set1_epi8('}');
  const __m256i paren = _mm256_set1_epi8('('), semi = _mm256_set1_epi8(';');
  const __m256i quote = _mm256_set1_epi8('\'');
  const __m256i x0 = _mm256_set1_epi8(extra_[0]);
  const __m256i x1 = _mm256_set1_epi8(extra_[1]);
  const __m256i x2 = _mm256_set1_epi8(extra_[2]);
  const __m256i x3 = _mm256_set1_epi8(extra_[3]);
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i v =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    const __m256i folded = _mm256_or_si256(v, bit5);
    __m256i hit = _mm256_or_si256(_mm256_cmpeq_epi8(folded, open),
                                  _mm256_cmpeq_epi8(folded, close));
    hit = _mm256_or_si256(
        hit, _mm256_cmpeq_epi8(_mm256_and_si256(v, not_bit0), paren));
    hit = _mm256_or_si256(hit, _mm256_or_si256(_mm256_cmpeq_epi8(v, semi),
                                               _mm256_cmpeq_epi8(v, quote)));
    hit = _mm256_or_si256(hit, _mm256_or_si256(_mm256_cmpeq_epi8(v, x0),
                                               _mm256_cmpeq_epi8(v, x1)));
    hit = _mm256_or_si256(hit, _mm256_or_si256(_mm256_cmpeq_epi8(v, x2),
                                               _mm256_cmpeq_epi8(v, x3)));
    const auto mask = static_cast<unsigned>(_mm256_movemask_epi8(hit));
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask));
  }
  return i;
}
#endif

std::size_t stop_set::find(const char* p, std::size_t n) const {
  std::size_t i = 0;
#ifdef ZURUD_NEXUS_AVX2
  // A member found there is found again at once below.
  if (avx2_ && n >= 64) i = find_avx2(p, n);
#endif
#if defined(__SSE2__)
  // "[{" and "]}" differ only in bit 5, "(" and ")" only in bit 0.
  const __m128i bit5 = _mm_set1_epi8(0x20), not_bit0 = _mm_set1_epi8(~1);
  const __m128i open = _mm_set1_epi8('{'), close = _mm_set1_epi8('}');
  const __m128i paren = _mm_set1_epi8('('), semi = _mm_set1_epi8(';');
  const __m128i quote = _mm_set1_epi8('\'');
  const __m128i x0 = _mm_set1_epi8(extra_[0]), x1 = _mm_set1_epi8(extra_[1]);
  const __m128i x2 = _mm_set1_epi8(extra_[2]), x3 = _mm_set1_epi8(extra_[3]);
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i folded = _mm_or_si128(v, bit5);
    __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(folded, open),
                               _mm_cmpeq_epi8(folded, close));
    hit = _mm_or_si128(hit, _mm_cmpeq_epi8(_mm_and_si128(v, not_bit0), paren));
    hit = _mm_or_si128(
        hit, _mm_or_si128(_mm_cmpeq_epi8(v, semi), _mm_cmpeq_epi8(v, quote)));
    hit = _mm_or_si128(
        hit, _mm_or_si128(_mm_cmpeq_epi8(v, x0), _mm_cmpeq_epi8(v, x1)));
    hit = _mm_or_si128(
        hit, _mm_or_si128(_mm_cmpeq_epi8(v, x2), _mm_cmpeq_epi8(v, x3)));
    const int mask = _mm_movemask_epi8(hit);
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask));
  }
#endif
  while (i < n && !set_.contains(p[i])) ++i;
  return i;
}

// ---------------------------------------------------------------------------
// The matrix.

void nexus_reader::read_matrix(const std::string& block) {
  if (nchar_ == 0)
    throw format_error("MATRIX without DIMENSIONS NCHAR= in the " + block +
                       " block");
  if (ntax_ != 0 && taxa_ntax_ != 0 && ntax_ != taxa_ntax_)
    throw format_error(
        "DIMENSIONS NTAX=" + std::to_string(ntax_) +
        " differs from the TAXA block's NTAX=" + std::to_string(taxa_ntax_));
  if (ntax_ == 0) ntax_ = taxa_ntax_;
  if (ntax_ == 0)
    throw format_error(
        "MATRIX without a taxon count: neither DIMENSIONS "
        "NTAX= nor a TAXA block gives it");
  if (!taxlabels_.empty() &&
      taxlabels_.size() != static_cast<std::size_t>(ntax_))
    throw format_error("TAXLABELS gives " + std::to_string(taxlabels_.size()) +
                       " labels for NTAX=" + std::to_string(ntax_));
  if ((gap_ != '\0' && (gap_ == missing_ || gap_ == match_)) ||
      missing_ == match_)
    throw format_error(
        "FORMAT gives one character two meanings among "
        "MISSING, GAP and MATCHCHAR");
  std::string symbols;
  if (missing_ != '?') symbols += missing_;
  if (gap_ != '\0' && gap_ != '-') symbols += gap_;
  if (match_ != '\0') symbols += match_;
  stops_.reset(interleave_, symbols);

  try {
    m_ = std::make_unique<char_mat_type>(ntax_, nchar_, matrix_type::DISCR);
  } catch (const std::bad_alloc&) {
    // Under a memory limit the block the dimensions declare may not be had
    // at once: rows are then kept as they begin, so that a file that holds
    // fewer fails as truncated, as it does without the limit.
    if (cells_.store)
      unreserved_.emplace(static_cast<std::size_t>(ntax_),
                          static_cast<std::size_t>(nchar_));
  }
  labels_ = tax_lab_type(ntax_);
  filled_.assign(static_cast<std::size_t>(ntax_), 0);
  seen_.assign(static_cast<std::size_t>(ntax_), false);
  index_.reserve(static_cast<std::size_t>(ntax_));
  for (const std::string& name : taxlabels_) {
    if (!index_.emplace(name, labelled_).second)
      throw format_error("label " + shown(name) + " given twice in TAXLABELS");
    add_spelling(name, labelled_);
    labels_(++labelled_) = name;
  }
  if (interleave_)
    read_interleaved();
  else
    read_sequential();
}

char* nexus_reader::row_cells(std::int32_t t) {
  return m_ ? m_->discr_row(t + 1)
            : unreserved_->row(static_cast<std::size_t>(t));
}

char_mat_access nexus_reader::matrix() {
  if (!m_)
    m_ = unreserved_ ? std::make_unique<char_mat_type>(ntax_, nchar_,
                                                       unreserved_->block())
                     : std::make_unique<char_mat_type>(ntax_, nchar_,
                                                       matrix_type::DISCR);
  m_->labels = std::move(labels_);
  return std::move(m_);
}

std::string nexus_reader::row_name(std::int32_t t) const {
  return "row " + shown(labels_(t + 1)) + " (" + std::to_string(t + 1) +
         " of " + std::to_string(ntax_) + ")";
}

// Without TAXLABELS, rows take their labels in the order of the matrix;
// with them, each row goes where its label is listed.
std::int32_t nexus_reader::add_row(const std::string& name) {
  index_.emplace(name, labelled_);
  add_spelling(name, labelled_);
  labels_(labelled_ + 1) = name;
  return labelled_++;
}

// In NEXUS an unquoted "_" is a blank, so 't2 the name' in one block and
// t2_the_name in the next name one taxon. A label that matches no row as
// written is looked up that way before it is refused; the row keeps the
// label as first written.
namespace {
std::string blank_spelling(std::string name) {
  std::replace(name.begin(), name.end(), '_', ' ');
  return name;
}
}  // namespace

void nexus_reader::add_spelling(const std::string& name, std::int32_t row) {
  const auto [it, added] = spelled_.emplace(blank_spelling(name), row);
  if (!added && it->second != row) it->second = -1;
}

std::int32_t nexus_reader::respelled_row(const std::string& name) const {
  const auto it = spelled_.find(blank_spelling(name));
  return it != spelled_.end() ? it->second : -1;
}

void nexus_reader::unknown_label(const std::string& name, bool later) {
  if (!taxlabels_.empty())
    throw format_error("label " + shown(name) +
                       " in the MATRIX is not one of TAXLABELS");
  if (later)
    throw format_error("unknown label " + shown(name) +
                       " in a later interleaved block");
  throw format_error("label " + shown(name) +
                     " makes more rows than NTAX=" + std::to_string(ntax_));
}

void nexus_reader::read_sequential() {
  for (; rows_ < ntax_; ++rows_) {
    if (!skip_blank())
      throw end_of_file_error("input ended after " + std::to_string(rows_) +
                              " of NTAX=" + std::to_string(ntax_) +
                              " rows of the matrix");
    if (peek(in_, 1)[0] == ';')
      throw format_error("the matrix ends after " + std::to_string(rows_) +
                         " of NTAX=" + std::to_string(ntax_) + " rows");
    const std::string name = label("in the MATRIX");
    const auto it = index_.find(name);
    std::int32_t t;
    if (it != index_.end())
      t = it->second;
    else if (taxlabels_.empty())
      t = add_row(name);
    else if ((t = respelled_row(name)) < 0)
      unknown_label(name, false);
    const auto ti = static_cast<std::size_t>(t);
    if (seen_[ti])
      throw format_error("label " + shown(name) + " repeats in the matrix");
    seen_[ti] = true;
    if (first_ < 0) first_ = t;
    if (fill(t, false) == row_end::SEMICOLON)
      throw format_error(row_name(t) + " ends at ';' after " +
                         std::to_string(filled_[ti]) +
                         " of NCHAR=" + std::to_string(nchar_) + " characters");
    // A row that ends inside a line with cells still on it is longer than
    // NCHAR: taking those cells for the next label would shift every row.
    if (rest_of_line() == row_end::FULL)
      throw format_error(row_name(t) +
                         " has more than NCHAR=" + std::to_string(nchar_) +
                         " characters: " + shown(in_.peek_line()) + " follows");
  }
  if (!skip_blank())
    throw end_of_file_error("input ended before the ';' of the matrix");
  if (peek(in_, 1)[0] != ';')
    throw format_error("expected ';' after the " + std::to_string(ntax_) +
                       " rows of the matrix (NTAX=" + std::to_string(ntax_) +
                       "), found " + shown(in_.peek_line()));
  in_.consume(1);
}

// Each line of an interleaved matrix is a label and the next cells of its
// row. Rows are found by label, so a block in another order still reads
// right; a label met again before every row has begun is a repeat (or a
// first block short of rows).
// The row of the label that starts an interleaved line. Blocks keep the
// order of the first one, so the row after the previous line's is tried
// first, its label compared straight in the buffer when it is plain.
std::int32_t nexus_reader::interleaved_row(std::int32_t next, bool later) {
  const std::string_view v = in_.peek_line();
  std::size_t k = 0;
  while (k < v.size() && !label_end.contains(v[k]) && v[k] != '\'') ++k;
  const bool known = seen_[static_cast<std::size_t>(next)];
  if (known && k > 0 && k < v.size() && v.substr(0, k) == labels_(next + 1)) {
    in_.consume(k);
    return next;
  }
  const std::string name = label("in the MATRIX");
  if (known && name == labels_(next + 1)) return next;
  const auto it = index_.find(name);
  if (it != index_.end()) return it->second;
  if (taxlabels_.empty() && labelled_ < ntax_) return add_row(name);
  const std::int32_t t = respelled_row(name);
  if (t >= 0) return t;
  unknown_label(name, later);
}

void nexus_reader::read_interleaved() {
  std::vector<std::int32_t> lines(static_cast<std::size_t>(ntax_), 0);
  bool later = false;  // a row has had a second line
  std::int32_t t = ntax_ - 1;
  for (;;) {
    if (!skip_blank())
      throw end_of_file_error("input ended before the ';' of the matrix");
    if (peek(in_, 1)[0] == ';') {
      in_.consume(1);
      break;
    }
    t = interleaved_row(t + 1 == ntax_ ? 0 : t + 1, later);
    const auto ti = static_cast<std::size_t>(t);
    if (!seen_[ti]) {
      seen_[ti] = true;
      ++rows_;
    } else if (rows_ < ntax_) {
      throw format_error("label " + shown(labels_(t + 1)) +
                         " repeats after only " + std::to_string(rows_) +
                         " of NTAX=" + std::to_string(ntax_) + " rows");
    } else {
      later = true;
    }
    if (first_ < 0) first_ = t;
    ++lines[ti];
    const row_end end = fill(t, true);
    if (end == row_end::SEMICOLON) break;
    if (end == row_end::FULL) {
      const row_end rest = rest_of_line();
      if (rest == row_end::SEMICOLON) break;
      if (rest == row_end::FULL)
        throw format_error(row_name(t) +
                           " gets more than NCHAR=" + std::to_string(nchar_) +
                           " characters in block " + std::to_string(lines[ti]) +
                           ": " + shown(in_.peek_line()) + " is left");
    }
  }
  if (rows_ < ntax_)
    throw format_error("the matrix ends after " + std::to_string(rows_) +
                       " of NTAX=" + std::to_string(ntax_) + " rows");
  for (std::int32_t r = 0; r < ntax_; ++r)
    if (filled_[static_cast<std::size_t>(r)] < nchar_)
      throw format_error(row_name(r) + " has " +
                         std::to_string(filled_[static_cast<std::size_t>(r)]) +
                         " of NCHAR=" + std::to_string(nchar_) +
                         " characters at the end of the matrix");
}

// After the last cell of a row: FULL when more cells stand on its line,
// SEMICOLON at a ";" (left unread), LINE_END at the end of the line or the
// input. Blanks and comments are passed over.
row_end nexus_reader::rest_of_line() {
  for (;;) {
    const std::string_view v = peek(in_, 2);
    if (v.empty() || v[0] == '\n') return row_end::LINE_END;
    if (v[0] == '\r' && (v.size() == 1 || v[1] != '\n')) {
      in_.consume(1);  // a lone carriage return ends a line too
      return row_end::LINE_END;
    }
    if (v[0] == ';') return row_end::SEMICOLON;
    if (v[0] == '[') {
      skip_comment();
    } else if (whitespace.contains(v[0])) {
      in_.consume(1);
    } else {
      return row_end::FULL;
    }
  }
}

[[noreturn]] void nexus_reader::unexpected(char c, std::int32_t t) {
  if (c == '\'')
    throw format_error("quote among the characters of " + row_name(t));
  throw format_error("unexpected " + shown(c) + " among the characters of " +
                     row_name(t));
}

// A polymorphic {ACG} or uncertain (ACG) set is one cell, stored as missing.
void nexus_reader::read_set(char open, std::int32_t t) {
  const char close = open == '{' ? '}' : ')';
  in_.consume(1);
  for (;;) {
    const std::string_view v = peek(in_, 4096);
    if (v.empty())
      throw end_of_file_error(std::string("input ended inside a '") + open +
                              "' set of " + row_name(t));
    std::size_t k = 0;
    while (k < v.size() && !cell_stops.contains(v[k])) ++k;
    in_.consume(k);
    if (k == v.size()) continue;
    if (v[k] == close) {
      in_.consume(1);
      return;
    }
    if (v[k] != '[')
      throw format_error("unexpected " + shown(v[k]) + " inside a '" + open +
                         "' set of " + row_name(t));
    skip_comment();
  }
}

// Reads cells of row t until it holds nchar (FULL), its line ends
// (LINE_END, line end consumed; only when line_bound) or a ";" stands next
// (SEMICOLON, unread). Plain cells go through the row-scan kernels a run at
// a time; the characters of stop_set are dealt with one by one.
row_end nexus_reader::fill(std::int32_t t, bool line_bound) {
  const auto& kernels = read::detail::kernels();
  const bool store = cells_.store;
  const auto ti = static_cast<std::size_t>(t);
  char* const row = store ? row_cells(t) : nullptr;
  const char* const ref =
      store && first_ >= 0 && first_ != t ? row_cells(first_) : nullptr;
  const std::size_t nchar = static_cast<std::size_t>(nchar_);
  std::size_t f = static_cast<std::size_t>(filled_[ti]);
  const auto done = [&](row_end e) {
    filled_[ti] = static_cast<std::int32_t>(f);
    return e;
  };
  while (f < nchar) {
    const std::string_view v = in_.peek_line();
    if (v.empty()) {
      if (in_.exhausted()) {
        filled_[ti] = static_cast<std::int32_t>(f);
        throw end_of_file_error("input ended inside " + row_name(t) +
                                " after " + std::to_string(f) + " of NCHAR=" +
                                std::to_string(nchar_) + " characters");
      }
      in_.skip_line();
      if (line_bound) return done(row_end::LINE_END);
      continue;
    }
    const std::size_t s = stops_.find(v.data(), v.size());
    read::detail::row_scan scan{v.data(), v.data() + s,
                                store ? row + f : nullptr, nchar - f};
    if (s < short_run && scan.n > s) {
      // The lines of interleaved files are short, and the kernels pass the
      // last 32 bytes of their text one at a time through a slow loop. Here
      // each byte is stored and the end moved on only past a cell, so the
      // loop does not branch; the row has room for every byte of the run.
      const char* p = scan.p;
      const char* const e = scan.e;
      if (store) {
        char* d = scan.dst;
        const char_mapping map = cells_.map;
        for (; p < e; ++p) {
          *d = map(*p);
          d += !whitespace.contains(*p);
        }
        f += static_cast<std::size_t>(d - scan.dst);
      } else {
        std::size_t got = 0;
        for (; p < e; ++p) got += !whitespace.contains(*p);
        f += got;
      }
      scan.p = p;
    } else {
      if (store)
        kernels.copy_black[static_cast<int>(how_)](scan);
      else
        kernels.skip_black(scan);
      const std::size_t got = nchar - f - scan.n;
      if (remap_)
        for (std::size_t j = f; j < f + got; ++j) row[j] = cells_.map(row[j]);
      f += got;
    }
    std::size_t k = static_cast<std::size_t>(scan.p - v.data());
    // Runs of MISSING, GAP and MATCHCHAR symbols.
    while (f < nchar && k < v.size()) {
      const char c = v[k];
      if (whitespace.contains(c) && c != '\r') {
        ++k;
        continue;
      }
      if (c == match_) {
        if (first_ == t)
          throw format_error("MATCHCHAR " + shown(c) + " in the first row " +
                             shown(labels_(t + 1)));
        if (filled_[static_cast<std::size_t>(first_)] <=
            static_cast<std::int32_t>(f))
          throw format_error("MATCHCHAR " + shown(c) + " in " + row_name(t) +
                             " at a character the first row has not given");
        if (store) row[f] = ref[f];
      } else if (c == missing_ && c != '?') {
        if (store) row[f] = '?';
      } else if (c == gap_ && c != '-' && c != '\0') {
        if (store) row[f] = '-';
      } else {
        break;
      }
      ++f;
      ++k;
    }
    in_.consume(k);
    if (f == nchar || k == v.size() || !stops_.contains(v[k])) continue;
    const char c = v[k];
    if (c == '[') {
      skip_comment();
    } else if (c == '{' || c == '(') {
      read_set(c, t);
      if (store) row[f] = '?';
      ++f;
    } else if (c == ';') {
      return done(row_end::SEMICOLON);
    } else if (c == '\r') {
      in_.consume(1);
      const std::string_view after = peek(in_, 1);
      if (line_bound && (after.empty() || after[0] != '\n'))
        return done(row_end::LINE_END);
    } else {
      filled_[ti] = static_cast<std::int32_t>(f);
      unexpected(c, t);
    }
  }
  return done(row_end::FULL);
}

}  // namespace zurud::read::detail::nexus
