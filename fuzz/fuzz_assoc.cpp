// read_assoc on the whole input, into both kinds of association set. The two
// must agree: the same pairs, or the same kind of failure. Labels read are
// names: never empty, at most 10000 characters, no line end in them and no
// whitespace at either end (a field between TABs or quotes may hold blanks).
#include <cstdint>
#include <string>
#include <typeinfo>

#include "fuzz/fuzz_util.hpp"
#include "zurud/zurud-hostpara.hpp"

namespace {

using zurud::hostpara::assoc_sets;
using zurud::hostpara::ordered_assocs;
using zurud_fuzz::check;

bool is_name(const std::string& label) {
  return !label.empty() && label.size() <= 10000 &&
         label.find_first_of("\r\n") == std::string::npos &&
         !zurud::whitespace.contains(label.front()) &&
         !zurud::whitespace.contains(label.back());
}

// Reads into `set`; returns the type of the failure, or of nothing.
template <typename Set>
const std::type_info& read_into(std::string_view text, Set& set) {
  zurud::read::text_input in(text);
  try {
    zurud::hostpara::read_assoc(in, set);
  } catch (const zurud::error& e) {
    return typeid(e);
  }
  return typeid(void);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const auto text = zurud_fuzz::as_text(data, size);
  ordered_assocs ordered;
  assoc_sets hashed;
  const std::type_info& ordered_failure = read_into(text, ordered);
  const std::type_info& hashed_failure = read_into(text, hashed);
  check(ordered_failure == hashed_failure, "both sets fail alike");
  check(ordered.size() == hashed.size(), "both sets hold as many pairs");
  for (const auto& a : ordered) {
    check(is_name(a.host) && is_name(a.para), "labels are names");
    check(hashed.count(a) == 1, "both sets hold the same pairs");
  }
  return 0;
}
