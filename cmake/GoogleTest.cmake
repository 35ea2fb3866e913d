# GoogleTest, found once for every test folder that uses it.
find_package(GTest REQUIRED)
include(GoogleTest)

# atcmd_gtest(target prefix SOURCES files... LIBRARIES targets...): a test
# program whose cases CTest lists as `prefix`.<Suite>.<Case>.
function(atcmd_gtest target prefix)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "SOURCES;LIBRARIES")
  add_executable(${target} ${arg_SOURCES})
  target_link_libraries(${target} PRIVATE ${arg_LIBRARIES} GTest::gtest_main)
  gtest_discover_tests(${target} TEST_PREFIX "${prefix}." DISCOVERY_TIMEOUT 30 NO_PRETTY_VALUES)
endfunction()
