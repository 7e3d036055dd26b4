# loadFile into the pad simulator paced at 115200 baud, against the wire time (goal: 1.03 USB, 1.05 serial).
korvane_bench(rba_load_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/RbaLoadBench.cpp LIBS korvane_pad korvane_padsim)
