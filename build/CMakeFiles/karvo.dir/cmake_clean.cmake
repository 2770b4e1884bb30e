file(REMOVE_RECURSE
  "CMakeFiles/karvo.dir/karvo/main.cpp.o"
  "CMakeFiles/karvo.dir/karvo/main.cpp.o.d"
  "karvo"
  "karvo.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/karvo.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
