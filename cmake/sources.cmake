# quillnet_collect_sources(OUT DIR...) gathers the .cpp files under DIRs that
# belong to this target: *_win.cpp only on Windows, *_linux.cpp and
# *_posix.cpp only elsewhere; their tests (*_win_test.cpp …) likewise.
function(quillnet_collect_sources out)
  set(result)
  foreach(dir IN LISTS ARGN)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${dir}/*.cpp)
    list(APPEND result ${found})
  endforeach()
  if(WIN32)
    list(FILTER result EXCLUDE REGEX "_(linux|posix)(_test)?\\.cpp$")
  else()
    list(FILTER result EXCLUDE REGEX "_win(_test)?\\.cpp$")
  endif()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# quillnet_layer(NAME [DEPS LAYER...]) makes the library quillnet_NAME from
# the sources under src/NAME (entry points excluded), links it to the
# layers it names and adds it to quillnet_core. A layer named before its
# folder has sources is skipped, and so is a dependency on such a layer.
#
# The layer is also linked alone into a shared library with no undefined
# symbol allowed, so a call into a layer it does not name fails the build.
function(quillnet_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 LAYER "" "" "DEPS")
  # A folder with a CMakeLists.txt of its own builds its own targets (the bind
  # modules, which live inside other programs); only its includes are checked.
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/CMakeLists.txt)
    return()
  endif()
  quillnet_collect_sources(sources ${name})
  list(FILTER sources EXCLUDE REGEX "/(winmain_win|main)\\.cpp$")
  if(NOT sources)
    return()
  endif()
  set(target quillnet_${name})
  add_library(${target} STATIC ${sources})
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  foreach(dep IN LISTS LAYER_DEPS)
    if(TARGET quillnet_${dep})
      target_link_libraries(${target} PUBLIC quillnet_${dep})
    endif()
  endforeach()
  target_link_libraries(quillnet_core INTERFACE ${target})

  add_library(${target}_alone SHARED ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/layer_alone.c)
  target_link_libraries(${target}_alone PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${target}>")
  if(NOT WIN32)
    # A Windows DLL may not leave anything undefined anyway.
    target_link_options(${target}_alone PRIVATE -Wl,--no-undefined)
  endif()
endfunction()
