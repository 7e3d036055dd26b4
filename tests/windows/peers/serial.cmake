# The far end of the COM port the Windows serial tests talk to.
add_executable(korvane_serial_loop_peer ${CMAKE_CURRENT_LIST_DIR}/SerialLoopPeer.cpp)
korvane_warnings(korvane_serial_loop_peer)
