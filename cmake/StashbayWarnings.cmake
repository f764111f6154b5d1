# Shared compile options: warnings are errors on every compiler we build with.
add_library(stashbay_options INTERFACE)
target_compile_options(stashbay_options INTERFACE -Wall -Wextra -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  # Coroutine frames and Qt headers trip this one without any fault of ours.
  target_compile_options(stashbay_options INTERFACE -Wno-unused-private-field)
endif()

if(STASHBAY_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

if(STASHBAY_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "STASHBAY_FUZZ needs clang")
  endif()
  # Every library carries coverage so the fuzzers see into the code they drive.
  # clang 14 cannot emit the function-type check for split coroutine frames.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize=function -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# Adds a gtest executable with a ctest label for its layer.
function(stashbay_add_test name label)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE stashbay_options GTest::gtest GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name} PROPERTIES LABELS ${label} DISCOVERY_TIMEOUT 60)
endfunction()
