# The device registry: the one object between the discovery library and its
# users (the window and the scan command).
add_library(nasregistry STATIC ${CMAKE_CURRENT_SOURCE_DIR}/DeviceSearchInterface.cpp)
target_include_directories(nasregistry PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(nasregistry PUBLIC searchlib Threads::Threads)
nasfinder_warnings(nasregistry)
