#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <unistd.h>

#include "zurud/zurud.hpp"

using namespace zurud;

TEST(char_mat_type, shape_limits) {
  struct {
    std::int32_t ntax, nchar;
    bool ok;
  } cases[] = {{5000, 1, true},  {1, 1048576, true}, {0, 1, false},
               {5001, 1, false}, {1, 0, false},      {1, 1048577, false},
               {-1, 5, false}};
  for (const auto& c : cases) {
    if (c.ok)
      EXPECT_NO_THROW(char_mat_type(c.ntax, c.nchar, matrix_type::DISCR));
    else
      EXPECT_THROW(char_mat_type(c.ntax, c.nchar, matrix_type::DISCR),
                   range_error)
          << c.ntax << " x " << c.nchar;
  }
}

TEST(char_mat_type, cells_of_another_type_are_a_range_error) {
  char_mat_type m(2, 3, matrix_type::DISCR);
  m.discr(2, 3) = 'a';
  EXPECT_EQ(m.discr(2, 3), 'a');
  EXPECT_THROW(m.quant(1, 1), range_error);
  EXPECT_THROW(m.count_row(1), range_error);
}

TEST(char_mat_type, equality) {
  char_mat_type a(1, 2, matrix_type::QUANT);
  a.quant(1, 1) = 0.0f;
  a.quant(1, 2) = 1.5f;
  a.labels(1) = "x";
  char_mat_type b = a;
  EXPECT_TRUE(a == b);
  b.quant(1, 1) = -0.0f;  // numbers compare, not bits
  EXPECT_TRUE(a == b);
  b.comments(1) = " 2";
  EXPECT_FALSE(a == b);
  char_mat_type c = a;
  c.quant(1, 2) = std::numeric_limits<float>::quiet_NaN();
  EXPECT_FALSE(c == c);
}

TEST(char_mat_type, huge_matrix_costs_no_resident_memory) {
  auto resident_kb = [] {
    std::ifstream f("/proc/self/statm");
    long size = 0, rss = 0;
    f >> size >> rss;
    return rss * (sysconf(_SC_PAGESIZE) / 1024);
  };
  const long before = resident_kb();
  char_mat_type m(5000, 1048576, matrix_type::DISCR);  // 5 GB of cells
  m.discr(1, 1) = 'a';
  EXPECT_LT(resident_kb() - before, 64 * 1024);
}

// Blocks of every size, small and of many pages: every byte asked for is
// there, zero, and writable.
TEST(new_zeroed_bytes, every_byte_is_zero_and_writable) {
  constexpr std::size_t huge = std::size_t{1} << 21;
  for (const std::size_t n : {std::size_t{1}, huge - 1, huge, huge + 1,
                              5 * huge + 123}) {
    auto bytes = new_zeroed_bytes(n);
    std::size_t nonzero = 0;
    for (std::size_t i = 0; i < n; i += 4093) nonzero += bytes[i] != 0;
    nonzero += bytes[n - 1] != 0;
    EXPECT_EQ(nonzero, 0u) << n;
    bytes[0] = 1;
    bytes[n - 1] = 2;
    EXPECT_EQ(bytes[n - 1], 2) << n;
  }
}

TEST(char_sets, classes) {
  // Bytes from 128 up are letters of names (UTF-8 continuation bytes).
  EXPECT_FALSE(whitespace.contains(static_cast<unsigned char>(133)));
  EXPECT_FALSE(controlchr.contains(static_cast<unsigned char>(159)));
  EXPECT_TRUE(controlchr.contains(static_cast<unsigned char>(127)));
  EXPECT_EQ(whitespace.size(), 34);
  EXPECT_TRUE(whitespace.contains('\t'));
  EXPECT_TRUE(whitespace.contains(' '));
  EXPECT_TRUE(whitespace.contains('\r'));
  EXPECT_TRUE(blackspace.contains(static_cast<unsigned char>(133)));
  EXPECT_FALSE(blackspace.contains(' '));
  EXPECT_TRUE(blackspace.contains(static_cast<unsigned char>(160)));
  EXPECT_TRUE(nexus_label_set.contains('.'));
  EXPECT_TRUE(nexus_label_set.contains('!'));
  EXPECT_FALSE(nexus_label_set.contains('\''));
  EXPECT_FALSE(nexus_label_set.contains('-'));
  EXPECT_TRUE(newick_label_set.contains('-'));
  EXPECT_TRUE(newick_label_set.contains('"'));
  EXPECT_FALSE(newick_label_set.contains('\''));
  EXPECT_EQ(nuc_set.members(), "acgt");
  EXPECT_EQ(gapped_nuc_set.members(), "-acgt");
  EXPECT_EQ(nexus_label_set.size(), 95 + 128 - 21);
  EXPECT_TRUE(word_set.contains(static_cast<unsigned char>(223)));
  EXPECT_FALSE(word_set.contains(static_cast<unsigned char>(215)));
}

TEST(char_mappings, cleaning_maps) {
  std::string label = "a b-c";
  for (char& c : label) c = nexus_label_map(c);
  EXPECT_EQ(label, "a_b_c");
  EXPECT_EQ(good_gaps('.'), '-');
  EXPECT_EQ(good_comment('['), '{');
  EXPECT_EQ(good_comment(']'), '}');
  EXPECT_EQ(no_space(' '), '_');
  EXPECT_EQ(lower_case_map('A'), 'a');
  EXPECT_EQ(lower_case_map(static_cast<char>(192)), static_cast<char>(224));
  EXPECT_EQ(lower_case_map(static_cast<char>(215)), static_cast<char>(215));
  EXPECT_EQ(lower_case_map('?'), '?');
  EXPECT_EQ(upper_case_map(static_cast<char>(255)), static_cast<char>(255));
}

TEST(integer_image, leading_blank_for_non_negative) {
  EXPECT_EQ(integer_image(2), " 2");
  EXPECT_EQ(integer_image(0), " 0");
  EXPECT_EQ(integer_image(5000), " 5000");
  EXPECT_EQ(integer_image(-99), "-99");
}

TEST(sequence_vecs, holds_at_most_5000) {
  sequence_vecs v;
  for (int i = 0; i < 5000; ++i) v.append({});
  EXPECT_THROW(v.append({}), range_error);
  EXPECT_THROW(v(5001), range_error);
  EXPECT_THROW(v(0), range_error);
}

TEST(dist_mat_type, stores_only_non_negative_finite_values) {
  dist_mat_type d(2);
  d.distances.set(1, 2, 0.0f);
  d.distances.set(2, 1, max_float);
  EXPECT_EQ(d.distances(2, 1), max_float);
  EXPECT_THROW(d.distances.set(1, 1, -0.5f), range_error);
  EXPECT_THROW(d.distances.set(1, 1, std::numeric_limits<float>::infinity()),
               range_error);
  EXPECT_THROW(d.distances.set(1, 1, std::numeric_limits<float>::quiet_NaN()),
               range_error);
  EXPECT_THROW(dist_mat_type(0), range_error);
  EXPECT_THROW(dist_mat_type(5001), range_error);
  fast_dist_mat_type f(3, 8);
  f.distances.set(8, 1.0f);
  EXPECT_THROW(f.distances.set(9, 1.0f), range_error);
}

// Large texts skip the buffer: what was buffered before them must still come
// out first, whatever the mix of sizes.
TEST(text_output, large_texts_keep_their_place_among_small_ones) {
  const std::string big(200 * 1024, 'b'), medium(64 * 1024, 'm');
  const std::vector<std::vector<std::string>> cases = {
      {"a", big, "c"},
      {big, big},
      {"a", medium, "b", medium},
      {std::string(1000, 'x'), big, std::string(1000, 'y'), medium, "z"},
  };
  for (const auto& pieces : cases) {
    char name[] = "/tmp/zurud_output_XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    std::string want;
    {
      text_output out(fd, name);
      for (const std::string& p : pieces) {
        out.put(p);
        want += p;
      }
      out.flush();
    }
    std::ifstream in(name, std::ios::binary);
    const std::string got((std::istreambuf_iterator<char>(in)),
                          std::istreambuf_iterator<char>());
    EXPECT_TRUE(got == want) << pieces.size() << " pieces, " << got.size()
                             << " bytes of " << want.size();
    close(fd);
    std::remove(name);
  }
}

TEST(text_output, write_failure_is_reported_and_sticks) {
  FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  text_output out(fileno(full), "/dev/full", false, 16);
  out.put("0123456789");
  EXPECT_THROW(out.put("0123456789"), io_error);  // buffer spills
  EXPECT_THROW(out.flush(), io_error);            // and keeps failing
  std::fclose(full);
}
