file(REMOVE_RECURSE
  "CMakeFiles/zurud.dir/zurud/zurud-hostpara.cpp.o"
  "CMakeFiles/zurud.dir/zurud/zurud-hostpara.cpp.o.d"
  "CMakeFiles/zurud.dir/zurud/zurud-print.cpp.o"
  "CMakeFiles/zurud.dir/zurud/zurud-print.cpp.o.d"
  "CMakeFiles/zurud.dir/zurud/zurud-read.cpp.o"
  "CMakeFiles/zurud.dir/zurud/zurud-read.cpp.o.d"
  "CMakeFiles/zurud.dir/zurud/zurud-sets.cpp.o"
  "CMakeFiles/zurud.dir/zurud/zurud-sets.cpp.o.d"
  "CMakeFiles/zurud.dir/zurud/zurud-text.cpp.o"
  "CMakeFiles/zurud.dir/zurud/zurud-text.cpp.o.d"
  "CMakeFiles/zurud.dir/zurud/zurud.cpp.o"
  "CMakeFiles/zurud.dir/zurud/zurud.cpp.o.d"
  "libzurud.a"
  "libzurud.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/zurud.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
