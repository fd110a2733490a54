# QuillnetBind.dll for the architecture of this build.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(bind_def ${CMAKE_CURRENT_SOURCE_DIR}/quillnet_bind_x64.def)
else()
  set(bind_def ${CMAKE_CURRENT_SOURCE_DIR}/quillnet_bind_x86.def)
endif()
add_library(QuillnetBind SHARED
  ${bind_shared_sources}
  ${PROJECT_SOURCE_DIR}/src/accel/route_request_client_win.cpp
  ${PROJECT_SOURCE_DIR}/src/accel/bind_catalog.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/strings_win.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/file_io_win.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/tick_win.cpp
  bind_catalog_win.cpp
  bind_places_win.cpp
  bind_provider_win.cpp
  ${bind_def})
target_include_directories(QuillnetBind PRIVATE ${PROJECT_SOURCE_DIR}/src)
set_target_properties(QuillnetBind PROPERTIES PREFIX "" OUTPUT_NAME QuillnetBind
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
target_link_libraries(QuillnetBind PRIVATE ws2_32)
target_link_options(QuillnetBind PRIVATE -static)
include(${PROJECT_SOURCE_DIR}/cmake/signing.cmake)
quillnet_sign(QuillnetBind)
