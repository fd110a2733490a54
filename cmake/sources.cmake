# quillnet_collect_sources(OUT DIR...) gathers the .cpp files under DIRs that
# belong to this target: *_win.cpp only on Windows, *_linux.cpp and
# *_posix.cpp only elsewhere.
function(quillnet_collect_sources out)
  set(result)
  foreach(dir IN LISTS ARGN)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${dir}/*.cpp)
    list(APPEND result ${found})
  endforeach()
  if(WIN32)
    list(FILTER result EXCLUDE REGEX "_(linux|posix)\\.cpp$")
  else()
    list(FILTER result EXCLUDE REGEX "_win\\.cpp$")
  endif()
  set(${out} ${result} PARENT_SCOPE)
endfunction()
