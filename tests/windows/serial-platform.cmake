# The Windows serial port and platform layer, run under Wine by
# serial-platform.run.sh against the Linux peer on a pseudo-terminal.
korvane_windows_test(serial_port_win32_tests SOURCES SerialPortWin32Test.cpp LIBS korvane_pad korvane_platform)
korvane_windows_test(platform_win32_tests SOURCES PlatformWin32Test.cpp LIBS korvane_platform)

# The program the process-run tests start, beside the test itself.
add_executable(korvane_win32_child ProcessRunChild.cpp)
korvane_warnings(korvane_win32_child)
add_dependencies(platform_win32_tests korvane_win32_child)
target_compile_definitions(platform_win32_tests PRIVATE KORVANE_WIN32_CHILD="$<TARGET_FILE_NAME:korvane_win32_child>")
