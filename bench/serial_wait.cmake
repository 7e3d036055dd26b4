# CPU cost of a long reply wait on a silent pad line (goal: under 1% of one core).
korvane_bench(serial_wait_bench SOURCES SerialWaitBench.cpp LIBS korvane_pad korvane_padpeer)
