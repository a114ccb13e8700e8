# kestrava_add_test(<name> SOURCES <files...> [LIBS <targets...>] [TEST_PREFIX <prefix>])
# One GoogleTest executable; its cases are listed to CTest when the tests run, their names after
# the prefix, if any. Each case also leaves a JUnit report under test_results/, where
# `colcon test-result` looks for them.
function(kestrava_add_test name)
  cmake_parse_arguments(ARG "" "TEST_PREFIX" "SOURCES;LIBS" ${ARGN})
  # Imported targets belong to the directory that finds them, the caller's; GoogleTest's module
  # keeps the path of its discovery script in a variable of the scope that includes it.
  include(GoogleTest)
  if(NOT TARGET GTest::gtest_main)
    find_package(GTest REQUIRED)
  endif()
  find_package(Threads REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock Threads::Threads ${ARG_LIBS})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    TEST_PREFIX "${ARG_TEST_PREFIX}"
    XML_OUTPUT_DIR ${PROJECT_BINARY_DIR}/test_results/${PROJECT_NAME}
    PROPERTIES ENVIRONMENT "SPDLOG_STDOUT=true;SPDLOG_SYSTEMD=false;SPDLOG_LEVEL=info")
endfunction()
