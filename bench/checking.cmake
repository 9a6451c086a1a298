# The check run against a loopback nginx, next to curl and wget doing the same
# work; bench/checking.sh starts the server and runs it.
add_executable(bench_checking ${CMAKE_CURRENT_LIST_DIR}/checking_bench.cpp)
target_link_libraries(bench_checking PRIVATE tessaly_test_support)
