// Helpers shared by the unit tests.
#pragma once
#include <gtest/gtest.h>

#include <string>

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
