# libcurl, OpenSSL and zlib as the target `quillnet_deps`: Debian's packages
# on Linux, the static cross builds made by scripts/setup for Windows.
add_library(quillnet_deps INTERFACE)
if(WIN32)
  set(_p ${QUILLNET_DEPS_PREFIX})
  foreach(lib curl ssl crypto)
    if(NOT EXISTS ${_p}/lib/lib${lib}.a)
      message(FATAL_ERROR "${_p}/lib/lib${lib}.a is missing: run scripts/setup")
    endif()
  endforeach()
  # Name zlib's static archive: FindZLIB would pick the import library.
  target_include_directories(quillnet_deps SYSTEM INTERFACE ${_p}/include)
  target_link_libraries(quillnet_deps INTERFACE
    ${_p}/lib/libcurl.a ${_p}/lib/libssl.a ${_p}/lib/libcrypto.a /usr/${QUILLNET_TRIPLET}/lib/libz.a
    ws2_32 crypt32 bcrypt advapi32 user32 iphlpapi)
else()
  find_package(CURL REQUIRED)
  find_package(OpenSSL REQUIRED)
  find_package(ZLIB REQUIRED)
  target_link_libraries(quillnet_deps INTERFACE CURL::libcurl OpenSSL::SSL OpenSSL::Crypto ZLIB::ZLIB)
endif()
