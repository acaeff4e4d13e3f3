# The desktop run against the command line's; included from
# bench/CMakeLists.txt. Needs the desktop program's library.
if(MIRDEL_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  add_executable(bench_gui_run ${CMAKE_CURRENT_LIST_DIR}/gui_run.cpp)
  set_target_properties(bench_gui_run PROPERTIES OUTPUT_NAME gui-run)
  target_link_libraries(bench_gui_run PRIVATE mirdel_gui)
  target_compile_definitions(bench_gui_run PRIVATE MIRDEL_BIN_DIR="${CMAKE_BINARY_DIR}")
  add_dependencies(bench_gui_run mirdel-sim mirdel-cli)
endif()
