# Whole iPP350 serial loads over a noisy 115200-baud line at several rates: share of "LOADED" loads,
# retransmissions per megabyte, time against a clean line.
korvane_bench(noisy_load_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/NoisyLoadBench.cpp
              LIBS korvane_workflows korvane_padsim korvane_loadserver_lib)
target_compile_definitions(noisy_load_bench PRIVATE
  KORVANE_SAMPLE_PACKAGES_SCRIPT="${PROJECT_SOURCE_DIR}/scripts/make-sample-packages.sh"
  KORVANE_BUNDLE_PATH="$<TARGET_FILE:korvane-bundle>")
add_dependencies(noisy_load_bench korvane-bundle)
