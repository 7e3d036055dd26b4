# FetchApplication of 32 MiB from the reference load server on loopback, 64 KiB and 1 MiB blocks,
# as a ratio to the protocol's floor (block pauses plus the same bytes through plain TLS).
korvane_bench(fetch_application_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/FetchApplicationBench.cpp
              LIBS korvane_server korvane_loadserver_lib)
