// Helpers shared by the unit tests.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "zurud/zurud.hpp"

/// Allows or forbids AVX2 for the vector loops while it lives, so that each
/// test also runs the loops of processors without it.
class vector_width {
 public:
  explicit vector_width(bool avx2)
      : was_(zurud::detail::use_avx2(avx2)),
        trace_(__FILE__, __LINE__, avx2 ? "AVX2 allowed" : "without AVX2") {}
  ~vector_width() { zurud::detail::use_avx2(was_); }
  vector_width(const vector_width&) = delete;
  vector_width& operator=(const vector_width&) = delete;

 private:
  bool was_;
  testing::ScopedTrace trace_;
};

/// Expects `stmt` to throw `type` whose what() equals `msg`.
#define EXPECT_THROW_MSG(stmt, type, msg)                      \
  do {                                                         \
    try {                                                      \
      stmt;                                                    \
      ADD_FAILURE() << "expected " #type " from " #stmt;       \
    } catch (const type& e) {                                  \
      EXPECT_EQ(std::string(e.what()), std::string(msg));      \
    } catch (...) {                                            \
      ADD_FAILURE() << "unexpected exception from " #stmt;     \
    }                                                          \
  } while (0)

/// An associate matrix like an alignment: most columns constant (one cell in
/// `mixed_one_in` differs), a third mixed from every kind of symbol; rows
/// labelled a1, a2, ...
inline zurud::char_mat_type test_alignment(std::mt19937& rng, std::int32_t ntax,
                                           std::int32_t nchar,
                                           unsigned mixed_one_in) {
  const std::string symbols = "acgt-?nr";
  zurud::char_mat_type m(ntax, nchar, zurud::matrix_type::DISCR);
  for (std::int32_t j = 1; j <= nchar; ++j) {
    const bool constant = rng() % 3 != 0;
    const char common = symbols[rng() % 5];
    for (std::int32_t i = 1; i <= ntax; ++i)
      m.discr(i, j) = constant && rng() % mixed_one_in != 0
                          ? common
                          : symbols[rng() % symbols.size()];
  }
  for (std::int32_t i = 1; i <= ntax; ++i)
    m.labels(i) = "a" + std::to_string(i);
  return m;
}
