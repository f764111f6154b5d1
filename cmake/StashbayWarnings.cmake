# Shared compile options: warnings are errors on every compiler we build with.
add_library(stashbay_options INTERFACE)
target_compile_options(stashbay_options INTERFACE -Wall -Wextra -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # g++ 12 reports std::string concatenation at -O2 and above as overlapping copies (its bug
  # 105651); the warning stays on for every other compiler.
  target_compile_options(stashbay_options INTERFACE -Wno-restrict)
endif()
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

# One layer of the app: the sources of its folder, linked to the layers it names (never to a
# layer above it), and its tests under tests/ with the layer's ctest label.
function(stashbay_layer target label)
  cmake_parse_arguments(L "" "" "DEPENDS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(_sources)
    add_library(${target} ${_sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC ${L_DEPENDS} PRIVATE stashbay_options)
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} INTERFACE ${L_DEPENDS})
  endif()
  if(STASHBAY_TESTS)
    file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
    if(_tests)
      stashbay_add_test(${target}_tests ${label} ${_tests})
      target_link_libraries(${target}_tests PRIVATE ${target})
    endif()
  endif()
endfunction()

# One stand-in framework folder of macos/: its src/*.cpp go into stashbay_macos, its include/
# is public, and its tests/*.cpp make one test executable labelled macos. Returns the test
# target's name in ${name}_TEST_TARGET (empty without tests).
function(stashbay_framework name)
  string(TOLOWER ${name} lower)
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp)
  target_sources(stashbay_macos PRIVATE ${_sources})
  target_include_directories(stashbay_macos PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
  set(${name}_TEST_TARGET "" PARENT_SCOPE)
  if(STASHBAY_TESTS)
    file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
    if(_tests)
      stashbay_add_test(macos_${lower}_tests macos ${_tests})
      target_link_libraries(macos_${lower}_tests PRIVATE stashbay_macos)
      set(${name}_TEST_TARGET macos_${lower}_tests PARENT_SCOPE)
    endif()
  endif()
endfunction()
