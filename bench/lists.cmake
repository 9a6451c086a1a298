# The million-line load and save benchmark: bench_lists [--lines N]
add_executable(bench_lists ${CMAKE_CURRENT_LIST_DIR}/lists_bench.cpp)
target_link_libraries(bench_lists PRIVATE tessaly_test_support)
