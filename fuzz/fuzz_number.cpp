// The number readers against the two-pass readers they replaced, which are
// kept as the oracle. Input: one byte whose bits choose, read after read,
// read_integer (0) or read_real (1); then the text. Up to 8 reads, until
// the text is exhausted, passing one character after each refusal (each
// refusal is an exception: more would make a run slow and find nothing new).
#include <cstdint>
#include <cstdio>

#include "fuzz/fuzz_util.hpp"
#include "fuzz/two_pass_number.hpp"

namespace {

using two_pass::attempt;
using two_pass::outcome;
using zurud::read::text_input;

void report(const char* who, const outcome& o) {
  std::fprintf(stderr, "%s: kind %d, bits %016llx, \"%s\", at %lld\n", who,
               static_cast<int>(o.kind),
               static_cast<unsigned long long>(o.bits), o.message.c_str(),
               static_cast<long long>(o.position));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t kinds = data[0];
  const std::string_view text = zurud_fuzz::as_text(data + 1, size - 1);
  text_input one(text), two(text);
  try {
    for (unsigned i = 0; i < 8; ++i) {
      const bool real = (kinds >> (i % 8)) & 1;
      const outcome a =
          real ? attempt([](text_input& in) { return in.read_real(); }, one)
               : attempt([](text_input& in) { return in.read_integer(); }, one);
      const outcome b = real ? attempt(two_pass::read_real, two)
                             : attempt(two_pass::read_integer, two);
      if (a != b) {
        report("one-pass", a);
        report("two-pass", b);
        zurud_fuzz::fail("the one-pass and two-pass readers agree");
      }
      zurud_fuzz::check(a.kind != outcome::OTHER,
                        "only format and end-of-file errors");
      if (a.kind == outcome::END_OF_FILE) break;
      if (a.kind == outcome::FORMAT) {
        if (one.peek(1).empty()) break;
        one.consume(1);
        two.consume(1);
      }
    }
  } catch (const zurud::error&) {
    // Corrupt gzip text, met again by peek after a refusal.
  }
  return 0;
}
