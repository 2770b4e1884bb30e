file(REMOVE_RECURSE
  "CMakeFiles/karvo_driver.dir/karvo/karvo.cpp.o"
  "CMakeFiles/karvo_driver.dir/karvo/karvo.cpp.o.d"
  "libkarvo_driver.a"
  "libkarvo_driver.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/karvo_driver.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
