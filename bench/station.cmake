# The station window on eight instruments against one; included from
# bench/CMakeLists.txt. Needs the desktop program's library.
if(MIRDEL_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  add_executable(bench_station ${CMAKE_CURRENT_LIST_DIR}/station.cpp)
  set_target_properties(bench_station PROPERTIES OUTPUT_NAME station)
  target_link_libraries(bench_station PRIVATE mirdel_gui)
  target_compile_definitions(bench_station PRIVATE MIRDEL_BIN_DIR="${CMAKE_BINARY_DIR}")
  add_dependencies(bench_station mirdel-sim mirdel-cli)
endif()
