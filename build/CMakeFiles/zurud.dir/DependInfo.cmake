
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/zurud/zurud-hostpara.cpp" "CMakeFiles/zurud.dir/zurud/zurud-hostpara.cpp.o" "gcc" "CMakeFiles/zurud.dir/zurud/zurud-hostpara.cpp.o.d"
  "/work/main/zurud/zurud-print.cpp" "CMakeFiles/zurud.dir/zurud/zurud-print.cpp.o" "gcc" "CMakeFiles/zurud.dir/zurud/zurud-print.cpp.o.d"
  "/work/main/zurud/zurud-read.cpp" "CMakeFiles/zurud.dir/zurud/zurud-read.cpp.o" "gcc" "CMakeFiles/zurud.dir/zurud/zurud-read.cpp.o.d"
  "/work/main/zurud/zurud-sets.cpp" "CMakeFiles/zurud.dir/zurud/zurud-sets.cpp.o" "gcc" "CMakeFiles/zurud.dir/zurud/zurud-sets.cpp.o.d"
  "/work/main/zurud/zurud-text.cpp" "CMakeFiles/zurud.dir/zurud/zurud-text.cpp.o" "gcc" "CMakeFiles/zurud.dir/zurud/zurud-text.cpp.o.d"
  "/work/main/zurud/zurud.cpp" "CMakeFiles/zurud.dir/zurud/zurud.cpp.o" "gcc" "CMakeFiles/zurud.dir/zurud/zurud.cpp.o.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
