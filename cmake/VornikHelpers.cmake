# vornik_add_gtests(<test executable> <label>)
#
# Natively every case is its own test, run in a process of its own. Under an
# emulator (Wine) each program runs once as one test with all its cases:
# every start of a Windows program under Wine is a chance for a silent
# start-up failure that has nothing to do with the program, so the suite
# starts a dozen programs instead of some 150. Cases are left out there
# through GTEST_FILTER.
function(vornik_add_gtests target label)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES LABELS ${label} TIMEOUT 900)
  else()
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS ${label} TIMEOUT 600)
  endif()
endfunction()

# vornik_subsystem(NAME <name> [DEPS <targets>...] [EXCLUDE <files>...])
#
# Builds the subsystem folder as the static library vornik_<name> from every
# *.cc that is not a test (*_test.cc), fuzz target (*_fuzz.cc) or listed in
# EXCLUDE, and its tests (*_test.cc) as the executable <name>_tests.
# Test sources may be given their own extra links through TEST_DEPS.
function(vornik_subsystem)
  cmake_parse_arguments(V "" "NAME" "DEPS;TEST_DEPS;EXCLUDE;SOURCES" ${ARGN})
  set(target vornik_${V_NAME})
  if(V_SOURCES)
    set(sources ${V_SOURCES})
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
    list(FILTER sources EXCLUDE REGEX "_(test|fuzz)\\.cc$")
    foreach(ex ${V_EXCLUDE})
      list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${ex})
    endforeach()
  endif()
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
    target_compile_definitions(${target} PUBLIC VORNIK_BUILDING_LIBRARY)
    target_link_libraries(${target} PUBLIC ${V_DEPS} Threads::Threads)
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
    target_compile_definitions(${target} INTERFACE VORNIK_BUILDING_LIBRARY)
    target_link_libraries(${target} INTERFACE ${V_DEPS} Threads::Threads)
  endif()

  if(VORNIK_BUILD_TESTS)
    file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cc)
    if(tests)
      add_executable(${V_NAME}_tests ${tests})
      target_link_libraries(${V_NAME}_tests PRIVATE ${target} ${V_TEST_DEPS} GTest::gtest_main GTest::gmock)
      target_compile_definitions(${V_NAME}_tests PRIVATE
        VORNIK_DATA_DIR="${VORNIK_DATA_DIR}"
        VORNIK_BINARY_DIR="${PROJECT_BINARY_DIR}")
      vornik_add_gtests(${V_NAME}_tests ${V_NAME})
    endif()
  endif()
endfunction()
