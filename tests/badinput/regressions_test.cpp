// Faults that hostile input found, each with the test that would have caught
// it. The inputs are also in fuzz/seeds/.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "karvo/karvo.hpp"
#include "zurud/zurud-read.hpp"

namespace {

// An output whose every write fails as on a full disk.
struct full_device {
  int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ~full_device() {
    if (fd >= 0) ::close(fd);
  }
};

int run_with_failing_stderr(std::vector<std::string> args,
                            std::string stdin_text) {
  full_device full;
  if (full.fd < 0) return -1;
  zurud::read::text_input in(stdin_text, "standard input");
  std::string out;
  zurud::text_output out_stream(out);
  zurud::text_output err(full.fd, "standard error", true);
  args.insert(args.begin(), "karvo");
  return karvo::run(args, karvo::streams{&in, out_stream, err});
}

}  // namespace

// memcpy from the null data of an empty view was undefined (UBSan, found by
// fuzz_karvo on an empty association text).
TEST(text_input, from_an_empty_view_without_data_is_exhausted) {
  zurud::read::text_input in{std::string_view{}};
  EXPECT_TRUE(in.exhausted());
  EXPECT_THROW(zurud::read::read_header(in), zurud::end_of_file_error);
}

// The handler's own message to a standard error that refuses writing threw
// out of run() and aborted the process.
TEST(run, failure_with_unwritable_standard_error_still_returns_1) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ(run_with_failing_stderr({"-c", "-", "-"}, " 1 x\n"), 1);
  EXPECT_EQ(run_with_failing_stderr({"-c"}, ""), 1);  // usage text
  // Warnings that cannot be written make a failure, not a silent success.
  EXPECT_EQ(run_with_failing_stderr({"-c", "-", "-"},
                                    " 3 2\na ac\nb ac\nc gt\n"
                                    "a H\n"
                                    "b H\n"
                                    "c K\n"),
            1);
}
