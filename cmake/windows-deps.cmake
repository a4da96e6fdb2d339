# The libraries of the Windows cross build that Debian ships for the host
# only. CLI11 and nlohmann-json are header-only: their two include folders,
# and nothing else of /usr/include, are made visible through links in
# <build>/include. GoogleTest is built from its sources in /usr/src/googletest.
set(_host_include /usr/include)
set(_cross_include ${CMAKE_BINARY_DIR}/include)
file(MAKE_DIRECTORY ${_cross_include})
foreach(_dir CLI nlohmann)
  if(NOT IS_DIRECTORY ${_host_include}/${_dir})
    message(FATAL_ERROR "${_host_include}/${_dir} is missing: run tools/setup.sh")
  endif()
  file(CREATE_LINK ${_host_include}/${_dir} ${_cross_include}/${_dir} SYMBOLIC)
endforeach()

add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_cross_include})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${_cross_include})

if(MAQUETOR_TESTS)
  set(_googletest /usr/src/googletest)
  if(NOT EXISTS ${_googletest}/CMakeLists.txt)
    message(FATAL_ERROR "${_googletest} is missing: run tools/setup.sh (package googletest)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${_googletest} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # The names find_package(GTest) gives on Linux (googletest defines the
  # gmock ones itself).
  foreach(_lib gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${_lib})
      add_library(GTest::${_lib} ALIAS ${_lib})
    endif()
  endforeach()
endif()
