#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zurud/zurud-text.hpp"

namespace zurud::text {
namespace {

using strings = std::vector<std::string>;

strings elements(const ustr_vecs& v) { return strings(v.begin(), v.end()); }

constexpr char_set blank{" "};
constexpr char_set comma{","};
constexpr char_set null_set{};

TEST(text_common, counts_and_copies_the_common_prefix) {
  struct {
    std::string_view s1, s2;
    std::size_t count;
  } cases[] = {{"abcd", "abxy", 2}, {"", "abc", 0},      {"abc", "", 0},
               {"abc", "abc", 3},   {"abc", "abcde", 3}, {"Ab", "ab", 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(common(c.s1, c.s2), c.count) << c.s1 << " " << c.s2;
    EXPECT_EQ(common<std::string>(c.s1, c.s2), c.s1.substr(0, c.count));
  }
}

TEST(text_is_in, whole_string_membership_and_failures) {
  EXPECT_TRUE(is_in("gattaca", char_set{"acgt"}));
  EXPECT_FALSE(is_in("gattaca", char_set{"act"}));
  EXPECT_TRUE(is_in("\xe9t\xe9", char_set{"\xe9t"}));
  EXPECT_THROW((void)is_in("", null_set), length_error);  // length first
  EXPECT_THROW((void)is_in("a", null_set), pattern_error);
}

TEST(text_remove_squeeze, function_and_in_place_forms_agree) {
  struct {
    std::string_view s;
    char_set set;
    std::string_view removed, squeezed;
  } cases[] = {{"a-c-g", char_set{"-"}, "acg", "a-c-g"},
               {"a   b", blank, "ab", "a b"},
               {"a \t\n b", whitespace, "ab", "a b"},  // mixed run: first kept
               {"  a  ", blank, "a", " a "},
               {"", blank, "", ""},
               {"abc", blank, "abc", "abc"}};
  for (const auto& c : cases) {
    EXPECT_EQ(remove(c.s, c.set), c.removed) << c.s;
    EXPECT_EQ(squeeze(c.s, c.set), c.squeezed) << c.s;
    std::string r(c.s), q(c.s);
    remove(r, c.set);
    squeeze(q, c.set);
    EXPECT_EQ(r, c.removed);
    EXPECT_EQ(q, c.squeezed);
  }
  std::string s = "a b";
  EXPECT_THROW(remove(s, null_set), pattern_error);
  EXPECT_THROW(squeeze(s, null_set), pattern_error);
  EXPECT_EQ(s, "a b");
}

TEST(text_case, cap_uncap_and_revstr_in_both_forms) {
  struct {
    std::string_view s, capped, uncapped, reversed;
  } cases[] = {{"hELLO", "Hello", "hELLO", "OLLEh"},
               {"HELLO", "Hello", "hELLO", "OLLEH"},
               {"x", "X", "x", "x"},
               {"", "", "", ""},
               {"\xe9"
                "COLE",
                "\xc9"
                "cole",
                "\xe9"
                "COLE",
                "ELOC\xe9"},
               {"1AB", "1ab", "1AB", "BA1"}};
  for (const auto& c : cases) {
    EXPECT_EQ(cap(c.s), c.capped) << c.s;
    EXPECT_EQ(uncap(c.s), c.uncapped) << c.s;
    EXPECT_EQ(revstr(c.s), c.reversed) << c.s;
    std::string a(c.s), b(c.s), r(c.s);
    cap(a);
    uncap(b);
    revstr(r);
    EXPECT_EQ(a, c.capped);
    EXPECT_EQ(b, c.uncapped);
    EXPECT_EQ(r, c.reversed);
  }
}

TEST(text_string_map, replaces_runs_of_a_set) {
  using enum replace_type;
  struct {
    std::string_view s, by;
    replace_type how;
    std::string_view expected;
  } cases[] = {{"a  b c", "_", EVERY, "a_b_c"}, {"a  b c", "_", FIRST, "a_b c"},
               {"  a  ", "_", EVERY, "_a_"},    {"", "_", EVERY, ""},
               {"abc", "_", EVERY, "abc"},      {"a b c", "", EVERY, "abc"},
               {"a b", "   ", EVERY, "a   b"}};
  for (const auto& c : cases) {
    EXPECT_EQ(string_map(c.s, blank, c.by, c.how), c.expected) << c.s;
    std::string s(c.s);
    string_map(s, blank, c.by, c.how);
    EXPECT_EQ(s, c.expected);
  }
  EXPECT_THROW((void)string_map("", null_set, "_", EVERY), pattern_error);
}

TEST(text_string_map, replaces_a_pattern_without_searching_inserted_text) {
  using enum replace_type;
  const char_mapping identity;
  struct {
    std::string_view s, pattern, by;
    replace_type how;
    const char_mapping& mapping;
    std::string_view expected;
  } cases[] = {{"aaaa", "aa", "a", EVERY, identity, "aa"},
               {"aaa", "aa", "a", EVERY, identity, "aa"},
               {"aaaa", "aa", "a", FIRST, identity, "aaa"},
               {"ab", "a", "aa", EVERY, identity, "aab"},
               {"abcabc", "bc", "", EVERY, identity, "aa"},
               {"aaab", "aab", "X", EVERY, identity, "aX"},
               {"abababc", "ababc", "X", EVERY, identity, "abX"},
               {"ab", "abc", "X", EVERY, identity, "ab"},
               {"", "a", "X", EVERY, identity, ""},
               {"xABy", "ab", "_", EVERY, lower_case_map, "x_y"},
               {"xABy", "AB", "_", EVERY, lower_case_map, "xABy"},
               {"ABAB", "ab", "ab", EVERY, lower_case_map, "ABAB"}};
  for (const auto& c : cases) {
    EXPECT_EQ(string_map(c.s, c.pattern, c.by, c.how, c.mapping), c.expected)
        << c.s << " " << c.pattern;
    std::string s(c.s);
    string_map(s, c.pattern, c.by, c.how, c.mapping);
    EXPECT_EQ(s, c.expected);
  }
  EXPECT_THROW((void)string_map("", "", "_", EVERY), pattern_error);
}

TEST(text_scan_split, tokens_and_fields) {
  EXPECT_EQ(elements(scan("12ab345", detail::digits)), strings({"12", "345"}));
  EXPECT_EQ(elements(scan(" a  b ", blackspace)), strings({"a", "b"}));
  EXPECT_TRUE(scan("abc", detail::digits).empty());
  EXPECT_THROW((void)scan("abc", null_set), pattern_error);

  EXPECT_EQ(elements(split("abcdefg", 3)), strings({"abc", "def", "g"}));
  EXPECT_EQ(elements(split("abcdef", 3)), strings({"abc", "def"}));
  EXPECT_TRUE(split("", 3).empty());
  EXPECT_THROW((void)split("abc", 0), range_error);

  struct {
    std::string_view s;
    strings by_set, by_string;
  } cases[] = {{",a,,b,", {"", "a", "b", ""}, {"", "a", "", "b", ""}},
               {",", {"", ""}, {"", ""}},
               {"abc", {"abc"}, {"abc"}},
               {"", {}, {}}};
  for (const auto& c : cases) {
    EXPECT_EQ(elements(split(c.s, comma)), c.by_set) << c.s;
    EXPECT_EQ(elements(split(c.s, ",")), c.by_string) << c.s;
  }
  EXPECT_EQ(elements(split("a, b", char_set{", "})), strings({"a", "b"}));
  EXPECT_EQ(elements(split("a:::b", "::")), strings({"a", ":b"}));
  EXPECT_EQ(elements(split("aXbxc", "x", lower_case_map)),
            strings({"a", "b", "c"}));
  EXPECT_EQ(elements(split("ab", null_set)), strings({"a", "b"}));
  EXPECT_EQ(elements(split("ab", "")), strings({"a", "b"}));
}

TEST(text_scan_split, appending_forms_append_after_existing_elements) {
  ustr_vecs v{"x"};
  scan(v, "abc", detail::digits);
  split(v, "", comma);
  split(v, "", ",");
  split(v, "", 2);
  EXPECT_EQ(elements(v), strings({"x"}));
  scan(v, "1a2", detail::digits);
  split(v, "b,c", comma);
  split(v, "d;e", ";");
  split(v, "fg", 1);
  EXPECT_EQ(elements(v),
            strings({"x", "1", "2", "b", "c", "d", "e", "f", "g"}));
  split(v, v(4), 1);  // source is an element of the growing vector
  EXPECT_EQ(v(10), "b");
}

TEST(text_join, separator_between_elements) {
  EXPECT_EQ(join(ustr_vecs{"a", "b", "c"}, ", "), "a, b, c");
  EXPECT_EQ(join(ustr_vecs{}, ","), "");
  EXPECT_EQ(join(ustr_vecs{"a"}, ","), "a");
  EXPECT_EQ(join(ustr_vecs{"", ""}, ","), ",");
  for (std::string_view s : {",a,,b,", "a", ",", ",,"})
    EXPECT_EQ(join(split(s, ","), ","), s);
}

TEST(text_ustr_vecs, is_indexed_from_one) {
  ustr_vecs v{"a", "b"};
  EXPECT_EQ(v(1), "a");
  EXPECT_EQ(v(2), "b");
  EXPECT_THROW(v(0), range_error);
  EXPECT_THROW(v(3), range_error);
}

}  // namespace
}  // namespace zurud::text
