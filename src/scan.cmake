# The headless scan command. Argument parsing and output live in a library of
# their own so the unit tests (and fuzz targets) use them without the network.
add_library(nasscan_core STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/scan/ScanOptions.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/scan/ScanOutput.cpp
)
# Only the record's header is needed here, not the library itself.
target_include_directories(nasscan_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/scan ${PROJECT_SOURCE_DIR}/searchlib)
nasfinder_warnings(nasscan_core)

# Starting the library from the options: apart from main so a test can link it
# against the recording stand-in for the library's entry points.
add_library(nasscan_start STATIC ${CMAKE_CURRENT_SOURCE_DIR}/scan/ScanLibrary.cpp)
target_link_libraries(nasscan_start PUBLIC nasscan_core nasregistry)
nasfinder_warnings(nasscan_start)

add_executable(nasfinder-scan ${CMAKE_CURRENT_SOURCE_DIR}/scan/main.cpp)
target_link_libraries(nasfinder-scan PRIVATE nasscan_start)
target_compile_definitions(nasfinder-scan PRIVATE NASFINDER_VERSION="${PROJECT_VERSION}")
nasfinder_warnings(nasfinder-scan)
