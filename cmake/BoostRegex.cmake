# Boost.Regex is used header-only. The cross build must not see the host's
# /usr/include, so it gets a folder that holds nothing but the boost headers.
find_path(BOOST_REGEX_HEADERS boost/regex.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
add_library(boost_regex_headers INTERFACE)
if(CMAKE_CROSSCOMPILING)
  set(_boost_only ${CMAKE_BINARY_DIR}/boost-headers)
  file(MAKE_DIRECTORY ${_boost_only})
  file(CREATE_LINK ${BOOST_REGEX_HEADERS}/boost ${_boost_only}/boost SYMBOLIC)
  target_include_directories(boost_regex_headers SYSTEM INTERFACE ${_boost_only})
  target_compile_definitions(boost_regex_headers INTERFACE BOOST_REGEX_STANDALONE)
else()
  target_include_directories(boost_regex_headers SYSTEM INTERFACE ${BOOST_REGEX_HEADERS})
endif()
