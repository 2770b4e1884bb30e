
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/tests/hostpara_test.cpp" "tests/CMakeFiles/unit_tests.dir/hostpara_test.cpp.o" "gcc" "tests/CMakeFiles/unit_tests.dir/hostpara_test.cpp.o.d"
  "/work/main/tests/karvo_test.cpp" "tests/CMakeFiles/unit_tests.dir/karvo_test.cpp.o" "gcc" "tests/CMakeFiles/unit_tests.dir/karvo_test.cpp.o.d"
  "/work/main/tests/print_test.cpp" "tests/CMakeFiles/unit_tests.dir/print_test.cpp.o" "gcc" "tests/CMakeFiles/unit_tests.dir/print_test.cpp.o.d"
  "/work/main/tests/read_test.cpp" "tests/CMakeFiles/unit_tests.dir/read_test.cpp.o" "gcc" "tests/CMakeFiles/unit_tests.dir/read_test.cpp.o.d"
  "/work/main/tests/sets_test.cpp" "tests/CMakeFiles/unit_tests.dir/sets_test.cpp.o" "gcc" "tests/CMakeFiles/unit_tests.dir/sets_test.cpp.o.d"
  "/work/main/tests/text_test.cpp" "tests/CMakeFiles/unit_tests.dir/text_test.cpp.o" "gcc" "tests/CMakeFiles/unit_tests.dir/text_test.cpp.o.d"
  "/work/main/tests/zurud_test.cpp" "tests/CMakeFiles/unit_tests.dir/zurud_test.cpp.o" "gcc" "tests/CMakeFiles/unit_tests.dir/zurud_test.cpp.o.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  "/work/main/build/CMakeFiles/karvo_driver.dir/DependInfo.cmake"
  "/work/main/build/CMakeFiles/zurud.dir/DependInfo.cmake"
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
