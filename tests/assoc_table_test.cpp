#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/test_util.hpp"
#include "zurud/zurud-hostpara.hpp"

using namespace zurud;
using namespace zurud::hostpara;
using zurud::read::text_input;

namespace {

// The data file's labels in every case.
const sets::taxon_maps taxa{{"P1", 1}, {"P2", 2}, {"P3", 3}, {"Pol flav", 4}};

// Host/associate in set order.
std::vector<std::string> pairs_of(const ordered_assocs& set) {
  std::vector<std::string> out;
  for (const auto& a : set) out.push_back(a.host + "/" + a.para);
  return out;
}

resolved_assocs resolve(std::string_view text,
                        const assoc_resolve_options& o = {},
                        const sets::taxon_maps* labels = &taxa) {
  text_input in(text, "a.txt");
  const assoc_table t = read_assoc_table(in);
  return resolve_assocs(t, labels, o);
}

// `text` (UTF-8, no characters beyond U+FFFF) in UTF-16.
std::string utf16(std::string_view text, bool big, bool mark = true) {
  std::string s = mark ? (big ? "\xFE\xFF" : "\xFF\xFE") : "";
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : 3;
    unsigned c = n == 1 ? b : b & (n == 2 ? 0x1F : 0x0F);
    for (std::size_t k = 1; k < n; ++k) c = (c << 6) | (text[i + k] & 0x3F);
    i += n;
    const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c);
    s += big ? std::string{hi, lo} : std::string{lo, hi};
  }
  return s;
}

assoc_resolve_options passing_unknown() {
  assoc_resolve_options o;
  o.pass_unknown = true;
  return o;
}

const std::vector<std::string> four = {
    "Apodemus sylvaticus/P1", "Apodemus sylvaticus/P2",
    "Myodes glareolus/Pol flav", "Rattus rattus \xC3\x97 R. tanezumi/P1"};

const char* const tab_file =
    "P1\tApodemus sylvaticus\n"
    "P2\tApodemus sylvaticus\n"
    "Pol flav\tMyodes glareolus\n"
    "P1\tRattus rattus \xC3\x97 R. tanezumi\n";

}  // namespace

TEST(assoc_table, every_shape_gives_the_same_pairs) {
  struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"TAB-separated", tab_file},
      {"header, CR LF, blanks around fields",
       "parasite\thost\r\n"
       " P1 \t Apodemus sylvaticus \r\n"
       "P2\tApodemus sylvaticus\r\n"
       "Pol flav\tMyodes glareolus\t0.5\r\n"
       "P1\t\tRattus rattus \xC3\x97 R. tanezumi\r\n"},
      {"UTF-8 byte order mark, lone CR",
       "\xEF\xBB\xBF"
       "P1\tApodemus sylvaticus\r"
       "P2\tApodemus sylvaticus\r"
       "Pol flav\tMyodes glareolus\r"
       "P1\tRattus rattus \xC3\x97 R. tanezumi\r"},
      {"CSV with quotes, header",
       "\"associate\",\"host\"\n"
       "\"P1\",\"Apodemus sylvaticus\"\n"
       "P2,Apodemus sylvaticus\n"
       "\"Pol flav\", \"Myodes glareolus\" \n"
       "P1,\"Rattus rattus \xC3\x97 R. tanezumi\"\n"},
      {"semicolons, header of two words",
       "Symbiont;Host species\r\n"
       "P1;Apodemus sylvaticus\r\n"
       "P2;Apodemus sylvaticus;1,5\r\n"
       "Pol flav;Myodes glareolus\r\n"
       ";\r\n"
       "P1;Rattus rattus \xC3\x97 R. tanezumi\r\n"},
      {"row numbers from 1 (R write.csv)",
       "\"\",\"parasite\",\"host\"\n"
       "\"1\",\"P1\",\"Apodemus sylvaticus\"\n"
       "\"2\",\"P2\",\"Apodemus sylvaticus\"\n"
       "\"3\",\"Pol flav\",\"Myodes glareolus\"\n"
       "\"4\",\"P1\",\"Rattus rattus \xC3\x97 R. tanezumi\"\n"},
      {"row numbers from 0 (pandas), TAB",
       "\tparasite\thost\n"
       "0\tP1\tApodemus sylvaticus\n"
       "1\tP2\tApodemus sylvaticus\n"
       "2\tPol flav\tMyodes glareolus\n"
       "3\tP1\tRattus rattus \xC3\x97 R. tanezumi\n"},
      {"R write.table: blanks, quotes, header without the row numbers",
       "\"parasite\" \"host\"\n"
       "\"1\" \"P1\" \"Apodemus sylvaticus\"\n"
       "\"2\" \"P2\" \"Apodemus sylvaticus\"\n"
       "\"3\" \"Pol flav\" \"Myodes glareolus\"\n"
       "\"4\" \"P1\" \"Rattus rattus \xC3\x97 R. tanezumi\"\n"},
      {"UTF-16 little-endian", utf16(tab_file, false)},
      {"UTF-16 big-endian", utf16(tab_file, true)},
      {"UTF-16 without its mark", utf16(tab_file, false, false)},
      {"_ for a blank",
       "P1\tApodemus sylvaticus\n"
       "P2\tApodemus sylvaticus\n"
       "Pol_flav\tMyodes glareolus\n"
       "P1\tRattus rattus \xC3\x97 R. tanezumi\n"},
      {"incidence, hosts as rows, no corner (R write.table quote=FALSE)",
       "P1\tP2\tPol flav\n"
       "Apodemus sylvaticus\t1\t1\t0\n"
       "Myodes glareolus\t0\t0\t1\n"
       "Rattus rattus \xC3\x97 R. tanezumi\t1\t0\t0\n"},
      {"incidence, associates as rows, corner, TRUE/FALSE, blanks as 0",
       "\"\",\"Apodemus sylvaticus\",\"Myodes glareolus\","
       "\"Rattus rattus \xC3\x97 R. tanezumi\"\n"
       "\"P1\",TRUE,,true\n"
       "\"P2\",TRUE,FALSE,\n"
       "\"Pol flav\",FALSE,T,F\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string err;
    text_output e(err);
    text_input in(c.text, "a.txt");
    const assoc_table t = read_assoc_table(in);
    const resolved_assocs r = resolve_assocs(t, &taxa, {}, e);
    EXPECT_EQ(pairs_of(r.assocs), four);
    EXPECT_EQ(r.sources.size(), 4u);
    e.flush();
    EXPECT_EQ(err, "");
  }
}

TEST(assoc_table, details_of_fields) {
  struct {
    const char* text;
    std::vector<std::string> pairs;
  } cases[] = {
      // A quoted field may hold the separator and quotes.
      {"P1,\"Mus musculus, \"\"wild\"\"\"\n", {"Mus musculus, \"wild\"/P1"}},
      {"P1;\"a;b\";x\n", {"a;b/P1"}},
      {"P1,\"Mus\tmusculus\"\nP2,H2\n", {"H2/P2", "Mus\tmusculus/P1"}},
      // Plain words keep every byte; pairs may span lines.
      {"P1 \"H1\"\nP2\nH2 x\n", {"\"H1\"/P1", "H2/P2"}},
      // Commas on every line make a table; names holding one keep the
      // words reading.
      {"P1,H1\nP2,H2\n", {"H1/P1", "H2/P2"}},
      {"P1,H1\nP2 H2\n", {"P2/P1,H1"}},
      {"p1 ;;;\np2 ;;;\np3 H\n", {";;;/p1", ";;;/p2", "H/p3"}},
      // Runs of TABs count as one, as runs of blanks do.
      {"P1\t\tH1\nP2 H2\n", {"H1/P1", "H2/P2"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(pairs_of(resolve(c.text, {}, nullptr).assocs), c.pairs) << c.text;
}

TEST(assoc_table, sources_keep_lines_and_third_fields) {
  const resolved_assocs r =
      resolve("parasite,host,weight\nP1,H1,0.5\n\nP2,H1\nP3,H2,\"2,5\"\n");
  ASSERT_EQ(r.sources.size(), 3u);
  std::vector<std::string> seen;
  for (const assoc_source& s : r.sources)
    seen.push_back(s.pair->para + "@" + std::to_string(s.line) + "=" + s.value);
  EXPECT_EQ(seen, (std::vector<std::string>{"P1@2=0.5", "P2@4=", "P3@5=2,5"}));
  EXPECT_EQ(r.notes.extra_words_lines, 2);
  EXPECT_EQ(r.notes.extra_words_line, 2);
  EXPECT_EQ(r.notes.extra_words, "0.5");
}

// Counts in the cells (R's table() of reads, pandas' pivot_table): every
// number above 0 is a pair keeping its number; a column of numbers after a
// name is a host named by a number, not a matrix.
TEST(assoc_table, abundance_matrices_and_numbers_that_are_hosts) {
  struct {
    const char* text;
    std::vector<std::string> pairs;  // host/associate=number, in file order
  } cases[] = {
      {"\tH1\tH2\nP1\t12\t0\nP2\t0.0\t1e+05\nP3\t0.25\t3\n",
       {"H1/P1=12", "H2/P2=1e+05", "H1/P3=0.25", "H2/P3=3"}},
      {"H1,H2\nP1,TRUE,2\nP2,0,FALSE\n", {"H1/P1=TRUE", "H2/P1=2"}},
      // A row short of a cell: no matrix of counts, but pairs.
      {"parasite\thost\nP1\t12\nP2\t7\n", {"12/P1=", "7/P2="}},
      {"\tH1\tH2\nP1\t12\nP2\t0\t3\n", {"12/P1=", "0/P2=3"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::string> seen;
    try {
      const resolved_assocs r = resolve(c.text);
      for (const assoc_source& s : r.sources)
        seen.push_back(s.pair->host + "/" + s.pair->para + "=" + s.value);
    } catch (const error&) {
    }
    EXPECT_EQ(seen, c.pairs);
  }
}

TEST(assoc_table, notices_say_what_was_read) {
  struct {
    std::string text;
    assoc_resolve_options options;
    std::vector<std::string> notices;
  } cases[] = {
      {"parasite host\nP1 H1\n",
       {},
       {"a.txt, line 1: read as a header (\"parasite\", \"host\"), since "
        "\"parasite\" is no label of the data file while \"P1\" on line 2 "
        "is"}},
      {"P1;H1\n",
       {},
       {"a.txt: read as a table of fields separated by semicolons"}},
      {utf16("P1 H1\n", true),
       {},
       {"a.txt: read as UTF-16 (big-endian) and compared as UTF-8"}},
      {"P1\tMus musculus\nP2\tMus musculus\n",
       {},
       {"a.txt, line 1: a line holding a TAB is split at TABs only, so "
        "\"Mus musculus\" is one name (as on 1 more line)"}},
      {",parasite,host\n0,P9,H1\n1,P1,H1\n",
       passing_unknown(),
       {"a.txt: read as a table of fields separated by commas",
        "a.txt, line 1: read as a header (\"\", \"parasite\", \"host\"), and "
        "the first column of the other lines as row numbers (0 to 1), which "
        "are passed over",
        "a.txt: 1 associate not in the data file was passed over (-u), in 1 "
        "pair: \"P9\""}},
      {"P1 H1\nP9 H1\nP8 H2\nP9 H3\nP2 H2\n",
       passing_unknown(),
       {"a.txt: 2 associates not in the data file were passed over (-u), "
        "in 3 pairs: \"P9\", \"P8\""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string err;
    text_output e(err);
    text_input in(c.text, "a.txt");
    const resolved_assocs r =
        resolve_assocs(read_assoc_table(in), &taxa, c.options, e);
    EXPECT_EQ(r.notices, c.notices);
  }
}

TEST(assoc_table, unknown_associates_passed_over_leave_the_rest) {
  const resolved_assocs r = resolve("P1 H1\nP9 H1\nP2 H2\n", passing_unknown());
  EXPECT_EQ(pairs_of(r.assocs), (std::vector<std::string>{"H1/P1", "H2/P2"}));
  EXPECT_EQ(r.sources.size(), 2u);
  EXPECT_EQ(r.unknown_pairs, 1);
}

TEST(assoc_table, refusals) {
  struct {
    std::string text;
    const sets::taxon_maps* labels;
    const char* kind;
    const char* message;
    const char* detail;  // a part of it
    std::int64_t line;
    const char* err;
  } cases[] = {
      {"P1,\"H1\nP2,H2\n", nullptr, "format error", "a quote without its end",
       "the field \"H1 has no closing quote on its line", 1, ""},
      {"P1 H1\n" + std::string(10001, 'x') + " H2\n", nullptr, "format error",
       "a name too long", "a field longer than 10000 characters", 2, ""},
      {std::string("\xFF\xFEP\0"
                   "1",
                   5),
       nullptr, "format error", "broken UTF-16", "an odd number of bytes", 1,
       ""},
      {std::string("\xFF\xFE\x00\xDC", 4), nullptr, "format error",
       "broken UTF-16", "a low surrogate without a high one", 1, ""},
      {"P1 H1\nP2 H1\n\nP1 H1\n", &taxa, "constraint error",
       "attempt to insert element already in set",
       "the pair \"P1 H1\" occurs twice in the association file", 4, ""},
      {"P1 H1\nP2\n", &taxa, "end-of-file error",
       "input ended where a character was expected",
       "ended in the middle of a pair, after associate \"P2\"", 2, ""},
      {"P1 H2\nP9 H2\nP8 H1\n", &taxa, "constraint error",
       "no element available because key not in map",
       "\"P8\" is in the association file (a.txt, line 3) but not in the "
       "data file, nor is one more associate; -u passes over associates "
       "that the data file lacks",
       3, "Unknown parasite: P8\n"},
      {"Apodemus\tP1\nMus\tP2\n", &taxa, "constraint error",
       "no element available because key not in map",
       "its host \"P1\" is a label of the data file: the associate comes "
       "first on a line, then its host",
       1, "Unknown parasite: Apodemus\n"},
      {"x\ty\tz\na\t1\t0\nb\t0\t1\n", &taxa, "constraint error",
       "incidence matrix without orientation",
       "0 row labels of 2 and 0 column labels of 2 are labels", 1, ""},
      {"H\tP1\tP2\nP3\t1\t0\n", nullptr, "constraint error",
       "incidence matrix without orientation", "without the data file's labels",
       1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string err;
    text_output e(err);
    try {
      text_input in(c.text, "a.txt");
      resolve_assocs(read_assoc_table(in), c.labels, {}, e);
      ADD_FAILURE() << "no failure";
    } catch (const error& x) {
      EXPECT_STREQ(x.kind(), c.kind);
      EXPECT_STREQ(x.what(), c.message);
      EXPECT_NE(x.detail().find(c.detail), std::string::npos) << x.detail();
      EXPECT_EQ(x.line(), c.line);
    }
    e.flush();
    EXPECT_EQ(err, c.err);
  }
  const sets::taxon_maps twins{{"A B_c", 1}, {"A_B c", 2}};
  EXPECT_THROW(resolve("A_B_c H1\n", {}, &twins), constraint_error);
}

// Files written by R, Python's csv module, pandas and LibreOffice Calc (see
// assoc-tables/write.sh): pairs with a weight column, or incidence matrices.
TEST(assoc_table, files_written_by_other_programs) {
  const sets::taxon_maps labels{{"Pol_flav_01", 1},
                                {"Pol_flav_02", 2},
                                {"Hep_sylv_01", 3},
                                {"Mas_rat_01", 4},
                                {"Syp_mus_01", 5}};
  const std::vector<std::string> six = {
      "Apodemus flavicollis/Pol_flav_01",
      "Apodemus flavicollis/Pol_flav_02",
      "Apodemus sylvaticus/Hep_sylv_01",
      "Mus musculus \"domesticus\", lab/Syp_mus_01",
      "Myodes glareolus/Hep_sylv_01",
      "Rattus rattus \xC3\x97 R. tanezumi/Mas_rat_01"};
  const std::string folder = ZURUD_ASSOC_TABLES;
  for (const char* file :
       {"r-write-table.txt", "r-write-table-tab.tsv",
        "r-write-table-tab-quoted.tsv", "r-write-csv.csv",
        "r-write-csv-no-row-names.csv", "r-write-csv2.csv",
        "r-incidence-hosts-as-rows.tsv", "r-incidence-logical.csv",
        "python-csv.csv", "python-csv-excel-tab.tsv",
        "python-csv-quote-all.csv", "pandas-to-csv.csv",
        "pandas-to-csv-tab.tsv", "pandas-to-csv-semicolon.csv",
        "pandas-incidence.csv", "libreoffice-semicolon.csv",
        "libreoffice-unicode.txt", "libreoffice-tab-quote-all.tsv"}) {
    SCOPED_TRACE(file);
    text_input in = text_input::open(folder + "/" + file);
    const assoc_table t = read_assoc_table(in);
    std::string err;
    text_output e(err);
    const resolved_assocs r = resolve_assocs(t, &labels, {}, e);
    EXPECT_EQ(pairs_of(r.assocs), six);
    ASSERT_EQ(r.sources.size(), 6u);
    const std::string& value = r.sources[0].value;
    if (t.shape() == assoc_shape::INCIDENCE)
      EXPECT_TRUE(value == "1" || value == "TRUE") << value;
    else
      EXPECT_TRUE(value == "0.5" || value == "0,5") << value;
  }
}
