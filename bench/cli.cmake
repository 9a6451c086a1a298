# tessaly-check next to curl --parallel and LinkChecker, on a server of its own.
add_executable(bench_cli ${CMAKE_CURRENT_LIST_DIR}/cli_bench.cpp)
target_compile_definitions(bench_cli PRIVATE TESSALY_CHECK="$<TARGET_FILE:tessaly-check>")
add_dependencies(bench_cli tessaly-check)
