# Printing: the JPEG round trip beside libjpeg-turbo's own tools doing the
# same work, and the whole Print of the largest view (time and peak memory).
add_executable(bench_print bench_print.cpp)
target_link_libraries(bench_print PRIVATE terralume_print terralume_picture terralume_world Qt6::Gui benchmark::benchmark)
