# The headless scan command. Argument parsing and output live in a library of
# their own so the unit tests (and fuzz targets) use them without the network.
add_library(nasscan_core STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/scan/ScanOptions.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/scan/ScanOutput.cpp
)
# Only the record's header is needed here, not the library itself.
target_include_directories(nasscan_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/scan ${PROJECT_SOURCE_DIR}/searchlib)
nasfinder_warnings(nasscan_core)

add_executable(nasfinder-scan ${CMAKE_CURRENT_SOURCE_DIR}/scan/main.cpp)
target_link_libraries(nasfinder-scan PRIVATE nasscan_core nasregistry)
target_compile_definitions(nasfinder-scan PRIVATE NASFINDER_VERSION="${PROJECT_VERSION}")
nasfinder_warnings(nasfinder-scan)
