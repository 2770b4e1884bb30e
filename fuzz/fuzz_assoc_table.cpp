// The association table reader in both stages. First byte: switches (bit 0
// passes over unknown associates, bits 1-2 the incidence orientation); then
// the data file's labels on one line, separated by "|"; then the
// association file. Oracles: every name is a name (not empty, at most 10000
// characters, no line end, no whitespace at either end); resolving is
// repeatable and leaves only associates that are labels, one source a pair
// with its line inside the file; passing over unknown associates changes
// nothing when there are none; without labels the result is read_assoc's.
#include <cstdint>
#include <string>
#include <typeinfo>

#include "fuzz/fuzz_util.hpp"
#include "zurud/zurud-hostpara.hpp"

namespace {

using namespace zurud::hostpara;
using zurud_fuzz::check;

bool is_name(const std::string& s) {
  return !s.empty() && s.size() <= 10000 &&
         s.find_first_of("\r\n") == std::string::npos &&
         !zurud::whitespace.contains(s.front()) &&
         !zurud::whitespace.contains(s.back());
}

// The result, or the type of the failure.
const std::type_info& resolve_into(const assoc_table& t,
                                   const zurud::sets::taxon_maps* taxa,
                                   const assoc_resolve_options& o,
                                   resolved_assocs& out) {
  std::string err;
  zurud::text_output e(err);
  try {
    out = resolve_assocs(t, taxa, o, e);
  } catch (const zurud::error& x) {
    return typeid(x);
  }
  return typeid(void);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const auto text = zurud_fuzz::as_text(data + 1, size - 1);
  const std::size_t cut = text.find('\n');
  if (cut == std::string_view::npos) return 0;
  zurud::sets::taxon_maps taxa;
  for (std::size_t at = 0; at <= cut;) {
    const std::size_t bar = std::min(text.find('|', at), cut);
    if (bar > at)
      taxa.emplace(std::string(text.substr(at, bar - at)),
                   static_cast<std::int32_t>(taxa.size() + 1));
    at = bar + 1;
  }
  const std::string_view file = text.substr(cut + 1);
  assoc_resolve_options o;
  o.pass_unknown = data[0] & 1;
  o.rows = static_cast<incidence_rows>((data[0] >> 1) % 3);

  zurud::read::text_input in(file, "a.txt");
  assoc_table table;
  try {
    table = read_assoc_table(in);
  } catch (const zurud::error&) {
    return 0;
  }
  std::int64_t lines = 1;
  for (const char c : file) lines += c == '\n' || c == '\r';

  resolved_assocs r;
  const std::type_info& failure = resolve_into(table, &taxa, o, r);
  resolved_assocs again;
  check(resolve_into(table, &taxa, o, again) == failure,
        "resolving twice fails alike");
  if (failure == typeid(void)) {
    check(again.assocs == r.assocs && again.notices == r.notices,
          "resolving twice gives the same");
    check(r.sources.size() == r.assocs.size(), "one source a pair");
    for (const assoc_source& s : r.sources) {
      check(r.assocs.count(*s.pair) == 1, "sources point at pairs");
      check(s.line >= 1 && s.line <= lines, "source lines are in the file");
    }
    for (const association& a : r.assocs) {
      check(is_name(a.host) && is_name(a.para), "labels are names");
      check(taxa.contains(a.para), "associates are labels");
    }
    if (!o.pass_unknown) {
      o.pass_unknown = true;
      resolved_assocs passing;
      check(resolve_into(table, &taxa, o, passing) == typeid(void) &&
                passing.assocs == r.assocs && passing.unknown_pairs == 0,
            "nothing to pass over changes nothing");
    }
  }

  // Without labels: the pairs as read_assoc reads them.
  resolved_assocs plain;
  const std::type_info& plain_failure = resolve_into(table, nullptr, {}, plain);
  zurud::read::text_input again_in(file, "a.txt");
  ordered_assocs read;
  const std::type_info* read_failure = &typeid(void);
  try {
    read_assoc(again_in, read);
  } catch (const zurud::error& x) {
    read_failure = &typeid(x);
  }
  check(*read_failure == plain_failure, "read_assoc fails as resolving does");
  if (plain_failure == typeid(void))
    check(plain.assocs == read, "read_assoc reads the pairs resolved");
  return 0;
}
