# The completeness test of a received load server message, small and large blocks.
korvane_bench(message_completeness_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/MessageCompletenessBench.cpp
              LIBS korvane_server)
