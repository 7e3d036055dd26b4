# MD5 throughput, the system's own against OpenSSL's on the same buffer.
korvane_bench(md5_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/Md5Bench.cpp LIBS korvane_server OpenSSL::Crypto)
