# The TLS peer of the Windows secure channel test (tests/windows/server.run.sh starts it).
add_executable(korvane-tls-scenario-peer TlsScenarioPeer.cpp)
target_link_libraries(korvane-tls-scenario-peer PRIVATE korvane_tls_test_server)
korvane_warnings(korvane-tls-scenario-peer)
