# The windows' long operations under the offscreen platform: Generate up to
# the map's first paint, and the zoom to x5, against a plain memset.
add_executable(bench_ui ${CMAKE_CURRENT_LIST_DIR}/bench_ui.cpp)
target_link_libraries(bench_ui PRIVATE terralume_ui benchmark::benchmark)
