# CLI11 and nlohmann-json are header-only: a Windows build takes the very
# headers the Debian packages install. Their CMake packages would put all of
# /usr/include on the include path, where the host's C library headers would
# shadow the cross compiler's; so each gets an include directory holding only
# its own headers.
set(_varnel_host_headers ${CMAKE_BINARY_DIR}/host-headers)
foreach(_dir CLI nlohmann)
  if(NOT EXISTS /usr/include/${_dir})
    message(FATAL_ERROR "/usr/include/${_dir} is missing: run scripts/bootstrap.sh")
  endif()
  file(MAKE_DIRECTORY ${_varnel_host_headers}/${_dir})
  file(COPY /usr/include/${_dir}/ DESTINATION ${_varnel_host_headers}/${_dir})
endforeach()
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${_varnel_host_headers})
# CLI11 asks stat() rather than std::filesystem what a path is: the latter
# brings calls the older Windows releases lack (CreateHardLinkW, _wstat64).
target_compile_definitions(CLI11::CLI11 INTERFACE CLI11_HAS_FILESYSTEM=0)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${_varnel_host_headers})
