// Names as users write them, through every reader that takes names: kept
// whole in any script, bounded in length, on lines ended in any way.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "zurud/zurud-hostpara.hpp"
#include "zurud/zurud-read.hpp"

using namespace zurud;
using zurud::read::text_input;

namespace {

using names = std::vector<std::string>;

// One reader: the text it reads for two names and a line end, the line the
// first name stands on, and the two names as read.
struct name_reader {
  const char* what;
  std::function<std::string(const names&, const std::string&)> text;
  std::int64_t line;
  std::function<names(text_input&)> read;
};

names labels_of(const tax_lab_type& labels) {
  return {labels.begin(), labels.end()};
}

names data_file(text_input& in, char_format_type layout, bool interleaved) {
  read::data_file_options options;
  options.layout = layout;
  options.interleaved = interleaved;
  return labels_of(read::read_data_file(in, options)->labels);
}

names dist_file(text_input& in, dist_format_type layout) {
  dist_mat_type m(read::read_dist_header(in, layout));
  read::read_dist_mat(in, layout, m);
  return labels_of(m.labels);
}

// The associates of hosts H1 and H2, or the hosts of associates P1 and P2.
names assoc_file(text_input& in, bool hosts) {
  hostpara::ordered_assocs set;
  hostpara::read_assoc(in, set);
  names found(2);
  for (const auto& a : set)
    if (hosts)
      found[a.para == "P1" ? 0 : 1] = a.host;
    else
      found[a.host == "H1" ? 0 : 1] = a.para;
  return found;
}

const name_reader readers[] = {
    {"PHYLIP",
     [](const names& n, const std::string& e) {
       return " 2 4" + e + n[0] + " ACGT" + e + n[1] + "\tACGA" + e;
     },
     2,
     [](text_input& in) {
       return data_file(in, char_format_type::EXTENDED_PHYLIP, false);
     }},
    {"PHYLIP interleaved",
     [](const names& n, const std::string& e) {
       return " 2 8" + e + n[0] + " ACGT" + e + n[1] + " ACGA" + e + e +
              "ACGT" + e + "ACGA" + e;
     },
     2,
     [](text_input& in) {
       return data_file(in, char_format_type::EXTENDED_PHYLIP, true);
     }},
    {"PHYLIP with row comments",
     [](const names& n, const std::string& e) {
       return " 2 4" + e + n[0] + "\t[3]\tACGT" + e + n[1] + "\t[2]\tACGA" + e;
     },
     2,
     [](text_input& in) {
       return data_file(in, char_format_type::COMMENTED_PHYLIP, false);
     }},
    {"FASTA",
     [](const names& n, const std::string& e) {
       return ">" + n[0] + " a description" + e + "AC" + e + "GT" + e + ">" +
              n[1] + e + "ACGA" + e;
     },
     1,
     [](text_input& in) {
       return data_file(in, char_format_type::EXTENDED_PHYLIP, false);
     }},
    {"NEXUS",
     [](const names& n, const std::string& e) {
       return "#NEXUS" + e + "begin data; dimensions ntax=2 nchar=4;" + e +
              "format datatype=dna;" + e + "matrix" + e + n[0] + " ACGT" + e +
              n[1] + " ACGA" + e + ";" + e + "end;" + e;
     },
     5,
     [](text_input& in) {
       return data_file(in, char_format_type::EXTENDED_PHYLIP, false);
     }},
    {"association file, associates",
     [](const names& n, const std::string& e) {
       return n[0] + " H1" + e + n[1] + "\tH2" + e;
     },
     1, [](text_input& in) { return assoc_file(in, false); }},
    {"association file, hosts",
     [](const names& n, const std::string& e) {
       return "P1 " + n[0] + e + "P2 " + n[1] + " more" + e;
     },
     1, [](text_input& in) { return assoc_file(in, true); }},
    {"distance matrix",
     [](const names& n, const std::string& e) {
       return " 2" + e + n[0] + " 0 1" + e + n[1] + " 1 0" + e;
     },
     2,
     [](text_input& in) {
       return dist_file(in, dist_format_type::EXTENDED_PHYLIP);
     }},
    {"distance matrix, TAB",
     [](const names& n, const std::string& e) {
       return "\t" + n[0] + "\t" + n[1] + e + n[0] + "\t0\t1" + e + n[1] +
              "\t1\t0" + e;
     },
     2,
     [](text_input& in) { return dist_file(in, dist_format_type::TAB); }},
};

}  // namespace

TEST(names, kept_whole_in_every_reader_and_line_end) {
  const names cases[] = {
      {"Mus", "Rat"},
      // The second bytes of Ø and Å lie in 128-159: they once ended both
      // names after the same first byte.
      {"\xC3\x98rsted", "\xC3\x85land"},
      {"\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCF\x82",
       "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0"},
      {"\xE6\x9D\xB1\xE4\xBA\xAC", "\xE5\xA4\xA7\xE9\x98\xAA"},
      {"a\xE2\x80\x94z", "a\xE2\x80\x93z"},
      {"x\x85", "x\x9F"},
      {std::string(max_word_len, 'm'), "Rat"},
  };
  for (const name_reader& r : readers)
    for (const char* end : {"\n", "\r\n", "\r"})
      for (const names& n : cases) {
        text_input in(r.text(n, end));
        try {
          EXPECT_EQ(r.read(in), n)
              << r.what << ", line end " << testing::PrintToString(end);
        } catch (const error& e) {
          ADD_FAILURE() << r.what << ", line end "
                        << testing::PrintToString(end) << ": " << e.what();
        }
      }
}

TEST(names, longer_than_a_word_may_be_is_a_format_error_at_its_line) {
  const names too_long = {std::string(max_word_len + 1, 'm'), "Rat"};
  for (const name_reader& r : readers)
    for (const char* end : {"\n", "\r\n", "\r"}) {
      text_input in(r.text(too_long, end));
      try {
        r.read(in);
        ADD_FAILURE() << r.what << ": no failure";
      } catch (const format_error& e) {
        const std::string text = std::string(e.what()) + ": " + e.detail();
        EXPECT_NE(text.find("longer than 10000 characters"), std::string::npos)
            << r.what << ": " << text;
        // The line a failure names: its own, or the one being read.
        EXPECT_EQ(e.line() != 0 ? e.line() : in.line(), r.line)
            << r.what << ", line end " << testing::PrintToString(end);
      }
    }
}

TEST(names, numbers_are_words_too) {
  for (const std::size_t digits : {max_word_len, max_word_len + 1}) {
    text_input in("0." + std::string(digits - 2, '5') + " 1\n");
    if (digits <= max_word_len) {
      EXPECT_NEAR(in.read_real(), 0.5555, 1e-4);
    } else {
      EXPECT_THROW(in.read_real(), format_error);
    }
    text_input count(std::string(digits, '0') + "\n");
    if (digits <= max_word_len) {
      EXPECT_EQ(count.read_integer(), 0);
    } else {
      EXPECT_THROW(count.read_integer(), format_error);
    }
  }
}
