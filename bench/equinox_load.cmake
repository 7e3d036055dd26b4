# Both packing-list transfers of a PCI2 load into the Equinox simulator paced at 115200 baud, against the wire time (goal: 1.03).
korvane_bench(equinox_load_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/EquinoxLoadBench.cpp LIBS korvane_pad korvane_padsim)
