# The upload through a modelled FTDI adapter, with and without its event
# character; included from bench/CMakeLists.txt.
add_executable(bench_ftdi ${CMAKE_CURRENT_LIST_DIR}/ftdi.cpp)
set_target_properties(bench_ftdi PROPERTIES OUTPUT_NAME ftdi)
target_link_libraries(bench_ftdi PRIVATE mirdel_core)
target_compile_definitions(bench_ftdi PRIVATE MIRDEL_BIN_DIR="${CMAKE_BINARY_DIR}")
if(TARGET mirdel-sim)
  add_dependencies(bench_ftdi mirdel-sim)
endif()
