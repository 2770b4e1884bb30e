// The one-pass number readers against the two-pass readers they replaced:
// every value (to the bit), every message and every consumed extent must be
// the same.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "fuzz/two_pass_number.hpp"
#include "zurud/zurud-read.hpp"

using two_pass::attempt;
using two_pass::outcome;
using zurud::read::text_input;

namespace {

std::string describe(const outcome& o) {
  return std::to_string(o.kind) + " " + std::to_string(o.bits) + " \"" +
         o.message + "\" at " + std::to_string(o.position);
}

// Reads numbers from `a` (one-pass) and `b` (two-pass) until the input is
// exhausted (or `most` reads), passing one character after each refusal, and
// expects the same outcome from both every time. Returns the number of reads.
int expect_same_reads(text_input& a, text_input& b, bool real,
                      const std::string& what, int most = 1 << 30) {
  int reads = 0;
  while (reads < most) {
    const outcome one =
        real ? attempt([](auto& in) { return in.read_real(); }, a)
             : attempt([](auto& in) { return in.read_integer(); }, a);
    const outcome two = real ? attempt(two_pass::read_real, b)
                             : attempt(two_pass::read_integer, b);
    ++reads;
    if (one != two) {
      ADD_FAILURE() << (real ? "real" : "integer") << " read " << reads
                    << " of \"" << what << "\": one-pass " << describe(one)
                    << ", two-pass " << describe(two);
      return reads;
    }
    if (one.kind == outcome::END_OF_FILE) return reads;
    if (one.kind != outcome::VALUE) {
      // Pass one character, so the rest is read too.
      if (a.peek(1).empty()) return reads;
      a.consume(1);
      b.consume(1);
    }
  }
  return reads;
}

void expect_same(const std::string& text, int most = 1 << 30) {
  for (const bool real : {false, true}) {
    text_input a(text), b(text);
    expect_same_reads(a, b, real, text, most);
  }
}

}  // namespace

TEST(number_scan, agrees_with_two_pass_reader_on_tricky_literals) {
  const char* cases[] = {
      // signs, underscores, the longest-prefix rule
      "0", "-0", "+0", "-", "+", "+-1", "--1", "1_000", "1__2", "1_", "_1",
      "1_2_3_4", "007", "1 2\t3\n\f4\n\n\f5", "\r5", "x", "", " \n\f ",
      // 32-bit bounds, with and without exponents
      "2147483647", "2147483648", "-2147483648", "-2147483649",
      "99999999999999999999999", "0000000000000000000000001", "2E9", "2E10",
      "1E9", "-2147483648E0", "1E-0", "1E-1", "0E-1", "0E1000000000000",
      "21474836_47", "1e+", "1e_1", "1e1_", "1e1_0", "1E", "5e", "5E+", "5E-",
      // based forms
      "16#FF#", "16:FF:", "16#FF:", "16#FF", "16#ff#e1", "2#1010#", "2#102#",
      "17#1#", "1#1#", "0#0#", "016#F#", "0_16#F#", "16_#F#", "16#_F#",
      "16#F_#", "16#F_F#", "16##", "16#", "#FF#", "10#99#", "10#9A#", "16#e#",
      "2#1E1#", "16#1E1#E1", "16#7FFFFFFF#", "16#80000000#", "-16#80000000#",
      "16#FFFFFFFF#", "2#1#E31", "-2#1#E31", "2#1#E30", "3#1#E-1",
      "16#1#E1000000000", "16#0#E1000000000", "16#1#E-1000000000", "16#.8#",
      "16#F.8#", "16#F.#", "16#F.8_#", "16#F._#", "16#F.8", "16#.#", "16#..8#",
      "16#F.8.#", "10#1.5#", "10#1.5#E2", "10#.5#E-400", "10#1#E400",
      "2#1.1#E-2", "8#7.7#e1", "16#FFFFFFFFFFFFFFFFFFFF#E200",
      // reals: points, exponents, range
      ".5", "-.5", "+.5", ".", "-.", ".e5", ".5e", ".5_", ".5_e3", "._5", "1.",
      "1.e5", "1.5", "1.5_", "1._5", "1_0.2_5", "1.5E-3", "1.5e+3", "1..5",
      "1.5.5", "3.40282347E+38", "1E308", "1.8E308", "1E309", "-1E309",
      "1E-400", "-1E-400", "1E-320", "2.5E-324", "4.9E-324", "0.000000001E-310",
      "10000000000E-330", "0.0000000001E318", "1E1000000000", "1E-1000000000",
      "0E1000000000", "0.0E-99999999999", "123456789012345678901234567890",
      "0.1", "0.30000000000000004", "2.", "1#.5#", "e5", "E", "?", "1.5E",
      "1.5x", "9.e", "00.00e00",
      // what follows a literal stays unread
      "3a", "12\t", "7\r\n", "5,6", "1E3x", "16#F#G", "1.5.", "-1-2"};
  for (const char* c : cases) expect_same(c);
}

TEST(number_scan, agrees_with_two_pass_reader_on_every_short_text) {
  // Every text of up to four characters over the characters of the grammar
  // and a few that end it. One read each: what it leaves is one of the
  // shorter texts, and the positions must agree.
  const std::string alphabet = "01Fe_#:.- \nx";
  std::string text;
  int texts = 0;
  auto all = [&](auto& self, std::size_t length) -> void {
    expect_same(text, 1);
    ++texts;
    if (length == 4) return;
    for (const char c : alphabet) {
      text.push_back(c);
      self(self, length + 1);
      text.pop_back();
      if (::testing::Test::HasFailure()) return;
    }
  };
  all(all, 0);
  EXPECT_GT(texts, 20000);
}

TEST(number_scan, long_literals_are_not_truncated) {
  const std::string zeros(100, '0');
  struct {
    std::string text;
    double value;
  } cases[] = {
      // 2^53 + 1 lies halfway between two doubles: only a nonzero digit far
      // beyond any small buffer makes it round up.
      {"9007199254740993" + zeros, 9007199254740993e100},
      {"9007199254740993." + zeros + "1", 9007199254740994.0},
      {"9007199254740993." + zeros, 9007199254740992.0},
      {"0." + zeros + "1", 1e-101},
      {"1" + zeros + zeros + zeros + "E-300", 1.0},
      {"1_" + std::string(200, '5') + "E-200", 1.5555555555555556},
      {"10#" + zeros + "1.5#", 1.5},
      {"16#" + zeros + "F#", 15.0},
  };
  for (const auto& c : cases) {
    text_input in(c.text);
    EXPECT_EQ(in.read_real(), c.value) << c.text;
    EXPECT_TRUE(in.exhausted()) << c.text;
    expect_same(c.text);
  }
  // A refused long literal is named by its first 40 characters.
  text_input in("1" + zeros + "_");
  try {
    in.read_real();
    ADD_FAILURE() << "trailing underscore accepted";
  } catch (const zurud::format_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "not a number: \"1" + std::string(39, '0') + "\"");
  }
  // Where nothing of a number could be read, the word standing there is
  // named instead of an empty literal.
  for (const bool real : {false, true}) {
    text_input word("  x1 2");
    try {
      real ? word.read_real() : word.read_integer();
      ADD_FAILURE() << "a word read as a number";
    } catch (const zurud::format_error& e) {
      EXPECT_EQ(std::string(e.what()), "not a number: \"x1\"");
    }
  }
  expect_same("  x1 2");
  // A literal is a word: one longer than max_word_len is refused, its last
  // character unread, and memory stays bounded however long it runs.
  for (const std::size_t n : {zurud::max_word_len, zurud::max_word_len + 1})
    for (const char* first : {"-", "0.", "16#"})
      expect_same(first + std::string(n - std::strlen(first), '7') + " 1", 3);
}

TEST(number_scan, agrees_with_two_pass_reader_across_refills) {
  // Longer than the file buffer, so literals straddle refills; some longer
  // than the decimal scratch buffer.
  std::string text;
  for (int i = 0; i < 8000; ++i) {
    text += std::to_string(i * 7919 % 100003) + "." +
            std::string(static_cast<std::size_t>(i % 97), '3') + "E-" +
            std::to_string(i % 11) + (i % 5 == 0 ? "\n\f" : " ");
    if (i % 1000 == 0) text += "16#F.8# 1_0 ";
  }
  ASSERT_GT(text.size(), 300000u);
  char path[] = "/tmp/zurud-number-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  { std::ofstream(path) << text; }
  for (const bool real : {false, true}) {
    text_input a = text_input::open(path), b = text_input::open(path);
    const int reads = expect_same_reads(a, b, real, "refill text");
    EXPECT_GT(reads, real ? 8000 : 16000);
  }
  close(fd);
  std::remove(path);
}
