# Boost.Regex, header-only, in its standalone mode (no other Boost library)
# in every build: the Windows programs ship that mode, so the tests run it.
# 1.76 is the first release with that mode.
set(ATCMD_BOOST_MINIMUM 1.76)
if(CMAKE_CROSSCOMPILING)
  # The toolchain's find root (/usr/<triplet>) holds no Boost, but the
  # headers are plain C++ and serve any compiler: the host's Boost package
  # is found outside the find root, in the host's multiarch folder, which
  # the cross build does not know by itself.
  # Boost's package file finds its parts the same way, so the whole search
  # leaves the find root.
  execute_process(COMMAND dpkg-architecture -qDEB_BUILD_MULTIARCH
    OUTPUT_VARIABLE _host_multiarch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  block(PROPAGATE Boost_INCLUDE_DIRS Boost_VERSION)
    set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE NEVER)
    find_package(Boost ${ATCMD_BOOST_MINIMUM} CONFIG REQUIRED PATHS /usr/lib/${_host_multiarch}/cmake)
  endblock()
else()
  find_package(Boost ${ATCMD_BOOST_MINIMUM} CONFIG REQUIRED)
endif()
message(STATUS "Boost ${Boost_VERSION} headers: ${Boost_INCLUDE_DIRS}")

add_library(boost_regex_headers INTERFACE)
target_compile_definitions(boost_regex_headers INTERFACE BOOST_REGEX_STANDALONE)
if(CMAKE_CROSSCOMPILING)
  # The cross compiler must not see the host's other headers in the same
  # folder, so it gets one that holds nothing but the boost folder.
  set(_boost_only ${CMAKE_BINARY_DIR}/boost-headers)
  file(MAKE_DIRECTORY ${_boost_only})
  file(CREATE_LINK ${Boost_INCLUDE_DIRS}/boost ${_boost_only}/boost SYMBOLIC)
  target_include_directories(boost_regex_headers SYSTEM INTERFACE ${_boost_only})
else()
  target_link_libraries(boost_regex_headers INTERFACE Boost::headers)
endif()
