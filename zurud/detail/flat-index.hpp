// An open-addressing index of numbered entries by hash, for tables of names
// with 10^5..10^6 entries: one flat array of 8-byte slots, no node or string
// allocated per entry. The caller keeps the entries (names in an arena,
// views into labels) and says how to compare one with a key. Internal to
// zurud; not installed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace zurud::detail {

/// A 32-bit hash of a text, eight bytes at a time (names of a few dozen
/// bytes cost a handful of multiplications).
inline std::uint32_t text_hash(std::string_view s) noexcept {
  constexpr std::uint64_t k1 = 0xbf58476d1ce4e5b9u, k2 = 0x94d049bb133111ebu;
  std::uint64_t h = 0x9e3779b97f4a7c15u ^ s.size();
  const char* p = s.data();
  std::size_t n = s.size();
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    h = (h ^ w) * k1;
    h ^= h >> 31;
  }
  if (n > 0) {
    std::uint64_t w = 0;
    std::memcpy(&w, p, n);
    h = (h ^ w) * k1;
    h ^= h >> 31;
  }
  h *= k2;
  h ^= h >> 29;
  return static_cast<std::uint32_t>(h >> 32);
}

/// Two hashes made one (a pair of names).
inline std::uint32_t combine_hash(std::uint32_t a, std::uint32_t b) noexcept {
  std::uint64_t h = (static_cast<std::uint64_t>(a) << 32 | b) *
                    std::uint64_t{0x9e3779b97f4a7c15u};
  h ^= h >> 32;
  return static_cast<std::uint32_t>(h);
}

/// Entry numbers (below 2^32 - 1) by their hash. A slot holds the hash and
/// the number + 1, so a probe compares an entry only when the hashes agree,
/// and growing needs no entry at all.
class flat_index {
 public:
  static constexpr std::uint32_t none = 0xFFFFFFFFu;

  /// Room for `n` entries without growing.
  void reserve(std::size_t n) {
    std::size_t cap = 16;
    while (cap < 2 * n) cap *= 2;
    if (cap > slots_.size()) rehash(cap);
  }
  std::size_t size() const noexcept { return size_; }

  /// The entry of hash `h` for which same(entry) holds, or none.
  template <typename Same>
  std::uint32_t find(std::uint32_t h, Same same) const {
    if (slots_.empty()) return none;
    for (std::size_t i = h & mask_;; i = (i + 1) & mask_) {
      const std::uint64_t s = slots_[i];
      if (s == 0) return none;
      if (static_cast<std::uint32_t>(s >> 32) == h) {
        const auto e = static_cast<std::uint32_t>(s) - 1;
        if (same(e)) return e;
      }
    }
  }
  /// The entry of hash `h` for which same(entry) holds; else enters `entry`
  /// and returns it.
  template <typename Same>
  std::uint32_t find_or_add(std::uint32_t h, std::uint32_t entry, Same same) {
    if (2 * (size_ + 1) > slots_.size())
      rehash(slots_.empty() ? 16 : 2 * slots_.size());
    std::size_t i = h & mask_;
    for (;; i = (i + 1) & mask_) {
      const std::uint64_t s = slots_[i];
      if (s == 0) break;
      if (static_cast<std::uint32_t>(s >> 32) == h) {
        const auto e = static_cast<std::uint32_t>(s) - 1;
        if (same(e)) return e;
      }
    }
    slots_[i] = static_cast<std::uint64_t>(h) << 32 | (entry + 1u);
    ++size_;
    return entry;
  }
  void clear() {
    slots_ = {};
    size_ = 0;
    mask_ = 0;
  }

 private:
  void rehash(std::size_t cap) {
    std::vector<std::uint64_t> old(cap, 0);
    old.swap(slots_);
    mask_ = cap - 1;
    for (const std::uint64_t s : old) {
      if (s == 0) continue;
      std::size_t i = (s >> 32) & mask_;
      while (slots_[i] != 0) i = (i + 1) & mask_;
      slots_[i] = s;
    }
  }
  std::vector<std::uint64_t> slots_;
  std::size_t mask_ = 0, size_ = 0;
};

}  // namespace zurud::detail
