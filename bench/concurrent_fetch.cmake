# 1, 10 and 100 loader clients fetching a 1 MiB package at once from the reference load server as a
# separate process: aggregate throughput, its ratio to one client, and the server's memory.
korvane_bench(concurrent_fetch_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/ConcurrentFetchBench.cpp
              LIBS korvane_server)
target_compile_definitions(concurrent_fetch_bench PRIVATE
  KORVANE_LOAD_SERVER_PROGRAM="$<TARGET_FILE:korvane-load-server>")
add_dependencies(concurrent_fetch_bench korvane-load-server)
