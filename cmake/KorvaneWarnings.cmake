# Warnings are set per target so that third-party code is not affected.
function(korvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow)
endfunction()

# A core library: includes resolve from the project root ("platform/Tick.h").
function(korvane_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
  korvane_warnings(${name})
endfunction()
