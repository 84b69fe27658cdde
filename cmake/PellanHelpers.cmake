# Build helpers shared by the test tree and the fuzz build.

# Every fuzz target is tests/fuzz/<name>_fuzz.cpp with its seed corpus in
# tests/fuzz/corpus/<name>/.
function(pellan_fuzz_targets out)
  file(GLOB targets CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# libFuzzer executables (clang only): build/fuzz/fuzz_<name>.
function(pellan_add_fuzzers)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "PELLAN_FUZZ needs clang++ (CXX=clang++-14)")
  endif()
  pellan_fuzz_targets(targets)
  foreach(src ${targets})
    get_filename_component(name ${src} NAME_WE)
    string(REGEX REPLACE "_fuzz$" "" name ${name})
    add_executable(fuzz_${name} ${src})
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(fuzz_${name} PRIVATE tolvar)
  endforeach()
endfunction()
