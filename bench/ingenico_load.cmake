# A whole iPP350 serial load (2 MiB application, 256 KiB configuration) from the reference server in
# this process into the pad simulator paced at 115200 baud, against the wire time (goal: 1.10).
korvane_bench(ingenico_load_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/IngenicoLoadBench.cpp
              LIBS korvane_workflows korvane_padsim korvane_loadserver_lib)
target_compile_definitions(ingenico_load_bench PRIVATE
  KORVANE_SAMPLE_PACKAGES_SCRIPT="${PROJECT_SOURCE_DIR}/scripts/make-sample-packages.sh"
  KORVANE_BUNDLE_PATH="$<TARGET_FILE:korvane-bundle>")
add_dependencies(ingenico_load_bench korvane-bundle)
