# The message-link benchmark; included from bench/CMakeLists.txt.
add_executable(bench_link ${CMAKE_CURRENT_LIST_DIR}/link.cpp)
set_target_properties(bench_link PROPERTIES OUTPUT_NAME link)
target_link_libraries(bench_link PRIVATE mirdel_core)
