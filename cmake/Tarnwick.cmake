# Build helpers shared by every subsystem, test and benchmark folder.

if(TARNWICK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(TARNWICK_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "The fuzz build needs clang (CMAKE_CXX_COMPILER=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined
                      -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Our own code builds with every warning on, and a warning is an error.
function(tarnwick_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()

# One static library per subsystem folder: every .cpp and .h in the folder but those EXCLUDEd.
#   tarnwick_add_library(store LINK Qt5::Core)
function(tarnwick_add_library name)
  cmake_parse_arguments(ARG "" "" "LINK;EXTRA;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  foreach(excluded ${ARG_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  add_library(${name} STATIC ${sources} ${ARG_EXTRA})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_LINK})
  tarnwick_warnings(${name})
endfunction()

# One test program per tests/ folder: every .cpp in it, run by CTest one test per process,
# so each test starts with an empty store.
#   tarnwick_add_tests(store_tests LINK store)          engine tests (QCoreApplication)
#   tarnwick_add_tests(chat_tests GUI LINK views_chat)  widget tests (QApplication, offscreen)
function(tarnwick_add_tests name)
  cmake_parse_arguments(ARG "GUI" "" "LINK" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_executable(${name} ${sources})
  if(ARG_GUI)
    set(main test_main_gui)
  else()
    set(main test_main_core)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LINK} ${main} testsupport
                        GTest::gtest GTest::gmock Qt5::Test)
  tarnwick_warnings(${name})
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
endfunction()

# A libFuzzer target that CTest runs for a bounded time on its seed corpus
# (tests/fuzz/corpus/<name>/). Built only in the clang fuzz build that ./test makes.
#   tarnwick_add_fuzzer(store_load LINK store)
function(tarnwick_add_fuzzer name)
  cmake_parse_arguments(ARG "" "SECONDS" "LINK" ${ARGN})
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 30)
  endif()
  add_executable(fuzz_${name} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_${name}.cpp)
  target_link_libraries(fuzz_${name} PRIVATE ${ARG_LINK})
  target_include_directories(fuzz_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  tarnwick_warnings(fuzz_${name})
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/corpus_${name})
  add_test(NAME fuzz_${name}
    COMMAND ${CMAKE_COMMAND} -DFUZZER=$<TARGET_FILE:fuzz_${name}>
            -DSEEDS=${CMAKE_CURRENT_SOURCE_DIR}/corpus/${name} -DWORK=${corpus}
            -DSECONDS=${ARG_SECONDS} -P ${PROJECT_SOURCE_DIR}/cmake/RunFuzzer.cmake)
  set_tests_properties(fuzz_${name} PROPERTIES LABELS fuzz TIMEOUT 600)
  # Gathered into the one target "fuzzers" (tests/fuzz/CMakeLists.txt).
  set_property(GLOBAL APPEND PROPERTY TARNWICK_FUZZERS fuzz_${name})
endfunction()

#   tarnwick_add_benchmark(store_bench LINK store)
function(tarnwick_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "LINK" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_LINK} benchmark::benchmark)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  tarnwick_warnings(${name})
  # Gathered into the one target "benchmarks" (bench/CMakeLists.txt).
  set_property(GLOBAL APPEND PROPERTY TARNWICK_BENCHMARKS ${name})
endfunction()
