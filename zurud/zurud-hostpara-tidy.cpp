// The tidy table: a line per host and site, every formula at once, from the
// counts of the site's states. A host's sites repeat a few patterns of
// counts (most sites hold one state), so the text after the site number is
// made once per pattern and copied; a line is then three copies.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

#include "zurud/detail/hostpara-kernels.hpp"
#include "zurud/detail/hostpara-tidy.hpp"

namespace zurud::hostpara::detail {

namespace {

// Patterns of counts remembered: 2^memo_bits entries of 64 bytes, and in
// front of them 2^near_bits that stay in the first-level cache (a host's
// sites of one state, the most of them, take a few patterns; the variable
// sites of large hosts, thousands).
constexpr unsigned memo_bits = 12;
constexpr unsigned near_bits = 6;
// Counts of up to five states below 4096 make a key of 60 bits.
constexpr std::size_t keyed_states = 5;
constexpr std::uint32_t keyed_count = 4096;
// Room for a line's start copied whole, and for the site's digits.
constexpr std::size_t start_room = 32;
constexpr std::size_t digits_end = 24;

}  // namespace

struct tidy_formatter::memo_entry {
  std::uint64_t key = 0;  // bit 63 set in every key: 0 is no entry
  std::uint32_t len = 0;
  char text[52] = {};
};

tidy_formatter::tidy_formatter(const analysis_type& analysis,
                               std::int32_t max_group)
    : consensus_(group_engine::make_rule(
          analysis.with_formula(formula_type::CONSENSUS), 0)),
      modal_(group_engine::make_rule(analysis.with_formula(formula_type::MODUS),
                                     0)),
      entropy_(group_engine::make_rule(
          analysis.with_formula(formula_type::ENTROPY), max_group)),
      scratch_(std::make_unique<kernel_scratch>(
          *entropy_, static_cast<std::size_t>(std::max(max_group, 0)))),
      memo_(std::make_unique<memo_entry[]>((std::size_t{1} << near_bits) +
                                           (std::size_t{1} << memo_bits))) {
  header_ = "host\tassociates\tsite\tn";
  // Named as the consensus column writes each state alone.
  for (const std::string& name : analysis.state_names()) {
    header_ += '\t';
    header_ += name;
  }
  header_ += "\tconsensus\tmodal\tentropy\n";
  // n, a count per state, two codes (a polymorphism of up to 31 states in
  // braces) and an entropy.
  tail_.resize(64 + 24 * (consensus_->k + 1) + 2 * 40);
}

tidy_formatter::~tidy_formatter() = default;

void tidy_formatter::put_header(text_output& out) const { out.put(header_); }

std::string tidy_formatter::line_start(std::string_view label,
                                       std::size_t size) {
  std::string start;
  if (label.find('"') == std::string_view::npos) {
    start = label;
  } else {
    // As R and pandas read a quoted field: inner quotes doubled.
    start = '"';
    for (const char c : label) {
      if (c == '"') start += '"';
      start += c;
    }
    start += '"';
  }
  start += '\t';
  start += std::to_string(size);
  start += '\t';
  return start;
}

namespace {

char* put_number(char* p, std::uint64_t v) {
  return std::to_chars(p, p + 24, v).ptr;
}

// A code as the table writes it: NA for "?", which stands for no state
// (nothing counted, too few, or the gap with several states), a
// polymorphism in braces.
char* put_code(char* p, const site_rule& rule, char code,
               const std::vector<polymorphic_cell>& poly) {
  if (!poly.empty()) {
    const std::string braces = rule.alphabet.polymorphism(poly.front().states);
    return std::copy(braces.begin(), braces.end(), p);
  }
  if (code == undefined_char) {
    *p++ = 'N';
    *p++ = 'A';
  } else {
    *p++ = code;
  }
  return p;
}

}  // namespace

std::size_t tidy_formatter::tail_of(const std::uint32_t* c, char* text) {
  const std::size_t k = consensus_->k;
  std::uint64_t n = 0;
  for (std::size_t s = 0; s < k; ++s) n += c[s];
  char* p = text;
  *p++ = '\t';
  p = put_number(p, n);
  for (std::size_t s = 0; s < k; ++s) {
    *p++ = '\t';
    p = put_number(p, c[s]);
  }
  for (const site_rule* rule : {consensus_.get(), modal_.get()}) {
    char code = 0;
    poly_.clear();
    finish_site(*rule, scratch_->terms, c, 0,
                block_out{&code, nullptr, &poly_});
    *p++ = '\t';
    p = put_code(p, *rule, code, poly_);
  }
  float h = 0;
  finish_site(*entropy_, scratch_->terms, c, 0, block_out{nullptr, &h});
  *p++ = '\t';
  if (h == undefined_real) {
    *p++ = 'N';
    *p++ = 'A';
  } else {
    p = std::to_chars(p, p + 32, static_cast<double>(h),
                      std::chars_format::general, 6)
            .ptr;
  }
  *p++ = '\n';
  return static_cast<std::size_t>(p - text);
}

void tidy_formatter::put_lines(text_output& out, std::string_view start,
                               std::size_t first, std::size_t count,
                               const std::uint32_t* counts) {
  const std::size_t k = consensus_->k;
  // The site number, its digits right-aligned before digits_end and copied
  // 16 bytes at a time; counted up line by line.
  char digits[digits_end + 16] = {};
  const std::string number = std::to_string(first + 1);
  std::size_t len = number.size();
  std::memcpy(digits + digits_end - len, number.data(), len);
  // A short start is copied whole from room of its own.
  char padded[start_room] = {};
  const bool short_start = start.size() <= start_room;
  if (short_start) std::memcpy(padded, start.data(), start.size());
  const bool keyed = k <= keyed_states;
  std::uint32_t c[32 + 1];
  std::vector<std::uint32_t> many(k > 32 ? k : 0);
  std::uint32_t* const site = k > 32 ? many.data() : c;
  memo_entry* const near = memo_.get();
  memo_entry* const far = near + (std::size_t{1} << near_bits);
  for (std::size_t j = 0; j < count; ++j) {
    std::uint64_t key = std::uint64_t{1} << 63;
    bool small = keyed;
    for (std::size_t s = 0; s < k; ++s) {
      site[s] = counts[s * count + j];
      // Only the counts of few states make a key (a shift past 63 bits is
      // undefined, whether or not the key is used).
      if (!keyed) continue;
      small = small && site[s] < keyed_count;
      key |= std::uint64_t{site[s] % keyed_count} << (12 * s);
    }
    const char* tail = nullptr;
    std::size_t tail_len = 0;
    memo_entry* entry = nullptr;
    if (small) {
      const std::uint64_t h = key * 0x9E3779B97F4A7C15u;
      entry = &near[h >> (64 - near_bits)];
      if (entry->key != key) {
        memo_entry& behind =
            far[h >> 20 & ((std::uint64_t{1} << memo_bits) - 1)];
        if (behind.key != key) {
          const std::size_t len = tail_of(site, tail_.data());
          if (len <= sizeof behind.text) {
            behind.key = key;
            behind.len = static_cast<std::uint32_t>(len);
            std::memcpy(behind.text, tail_.data(), len);
          } else {
            entry = nullptr;
            tail = tail_.data();
            tail_len = len;
          }
        }
        if (entry != nullptr) *entry = behind;
      }
      if (entry != nullptr) {
        tail = entry->text;
        tail_len = entry->len;
      }
    } else {
      tail_len = tail_of(site, tail_.data());
      tail = tail_.data();
    }
    char* const begin =
        out.reserve(std::max(start.size(), start_room) + 16 + 64 + tail_len);
    char* p = begin;
    if (short_start)
      std::memcpy(p, padded, start_room);
    else
      std::memcpy(p, start.data(), start.size());
    p += start.size();
    std::memcpy(p, digits + digits_end - len, 16);
    p += len;
    // Memo entries are copied whole, whatever their length.
    if (entry != nullptr)
      std::memcpy(p, tail, sizeof entry->text);
    else
      std::memcpy(p, tail, tail_len);
    p += tail_len;
    out.commit(static_cast<std::size_t>(p - begin));
    // The next site's number.
    std::size_t d = digits_end;
    while (d > digits_end - len && digits[d - 1] == '9') digits[--d] = '0';
    if (d == digits_end - len) {
      digits[digits_end - ++len] = '1';
    } else {
      ++digits[d - 1];
    }
  }
}

}  // namespace zurud::hostpara::detail
