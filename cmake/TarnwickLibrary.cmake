# tarnwick_split_sources(LIB_VAR TEST_VAR): every *.cc of the current
# directory, split into library sources and *_test.cc test sources.
function(tarnwick_split_sources lib_var test_var)
  file(GLOB all_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  set(lib_sources)
  set(test_sources)
  foreach(src ${all_sources})
    if(src MATCHES "_test\\.cc$")
      list(APPEND test_sources ${src})
    else()
      list(APPEND lib_sources ${src})
    endif()
  endforeach()
  set(${lib_var} ${lib_sources} PARENT_SCOPE)
  set(${test_var} ${test_sources} PARENT_SCOPE)
endfunction()

# tarnwick_glob_library(NAME ...): a static library from every *.cc of the
# current directory except *_test.cc, and, when tests are on, one GoogleTest
# binary NAME_test from every *_test.cc, linked against the library.
function(tarnwick_glob_library name)
  cmake_parse_arguments(L "" "" "LIBS;TEST_LIBS" ${ARGN})
  tarnwick_split_sources(lib_sources test_sources)
  if(NOT lib_sources)
    return()
  endif()
  add_library(${name} STATIC ${lib_sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${L_LIBS})
  if(TARNWICK_BUILD_TESTS AND test_sources)
    tarnwick_add_test(${name}_test SOURCES ${test_sources} LIBS ${name} ${L_TEST_LIBS})
  endif()
endfunction()
