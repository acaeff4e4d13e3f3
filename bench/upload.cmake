# The upload benchmark and the sample firmware writer; included from
# bench/CMakeLists.txt.
add_executable(bench_upload ${CMAKE_CURRENT_LIST_DIR}/upload.cpp)
set_target_properties(bench_upload PROPERTIES OUTPUT_NAME upload)
target_link_libraries(bench_upload PRIVATE mirdel_core)
target_compile_definitions(bench_upload PRIVATE MIRDEL_BIN_DIR="${CMAKE_BINARY_DIR}")
if(TARGET mirdel-sim)
  add_dependencies(bench_upload mirdel-sim)
endif()

add_executable(sample_firmware ${CMAKE_CURRENT_LIST_DIR}/upload_sample.cpp)
set_target_properties(sample_firmware PROPERTIES OUTPUT_NAME sample-firmware)
target_link_libraries(sample_firmware PRIVATE mirdel_core)
