# Optional decoders of compressed input. Each is used when its library and
# header are found (Debian: libisal-dev, libdeflate-dev, libzstd-dev,
# liblzma-dev, libbz2-dev) and can be turned off with ZURUD_WITH_<NAME>=OFF;
# the build says which it found.
set(zurud_decoders
  # name     library  header               define
  "ISAL|isal|isa-l/igzip_lib.h|ZURUD_HAVE_ISAL"
  "LIBDEFLATE|deflate|libdeflate.h|ZURUD_HAVE_LIBDEFLATE"
  "ZSTD|zstd|zstd.h|ZURUD_HAVE_ZSTD"
  "LZMA|lzma|lzma.h|ZURUD_HAVE_LZMA"
  "BZIP2|bz2|bzlib.h|ZURUD_HAVE_BZIP2")

set(zurud_decoder_defines)
set(zurud_decoder_libraries)
set(zurud_decoders_found)
foreach(fields ${zurud_decoders})
  string(REPLACE "|" ";" entry "${fields}")
  list(GET entry 0 name)
  list(GET entry 1 library)
  list(GET entry 2 header)
  list(GET entry 3 define)
  option(ZURUD_WITH_${name} "Decode with ${library} when it is found" ON)
  if(ZURUD_WITH_${name})
    find_library(ZURUD_${name}_LIBRARY ${library})
    find_path(ZURUD_${name}_INCLUDE ${header})
    if(ZURUD_${name}_LIBRARY AND ZURUD_${name}_INCLUDE)
      list(APPEND zurud_decoder_defines ${define})
      list(APPEND zurud_decoder_libraries ${ZURUD_${name}_LIBRARY})
      list(APPEND zurud_decoders_found ${library})
    endif()
  endif()
endforeach()
message(STATUS "zurud decoders besides zlib: ${zurud_decoders_found}")

function(zurud_link_decoders target)
  target_compile_definitions(${target} PRIVATE ${zurud_decoder_defines})
  target_link_libraries(${target} PRIVATE ${zurud_decoder_libraries})
endfunction()
