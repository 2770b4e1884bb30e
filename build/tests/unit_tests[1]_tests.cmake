set(  unit_tests_TESTS)
