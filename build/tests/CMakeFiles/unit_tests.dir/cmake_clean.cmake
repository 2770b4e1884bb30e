file(REMOVE_RECURSE
  "CMakeFiles/unit_tests.dir/hostpara_test.cpp.o"
  "CMakeFiles/unit_tests.dir/hostpara_test.cpp.o.d"
  "CMakeFiles/unit_tests.dir/karvo_test.cpp.o"
  "CMakeFiles/unit_tests.dir/karvo_test.cpp.o.d"
  "CMakeFiles/unit_tests.dir/print_test.cpp.o"
  "CMakeFiles/unit_tests.dir/print_test.cpp.o.d"
  "CMakeFiles/unit_tests.dir/read_test.cpp.o"
  "CMakeFiles/unit_tests.dir/read_test.cpp.o.d"
  "CMakeFiles/unit_tests.dir/sets_test.cpp.o"
  "CMakeFiles/unit_tests.dir/sets_test.cpp.o.d"
  "CMakeFiles/unit_tests.dir/text_test.cpp.o"
  "CMakeFiles/unit_tests.dir/text_test.cpp.o.d"
  "CMakeFiles/unit_tests.dir/zurud_test.cpp.o"
  "CMakeFiles/unit_tests.dir/zurud_test.cpp.o.d"
  "unit_tests"
  "unit_tests.pdb"
  "unit_tests[1]_tests.cmake"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/unit_tests.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
