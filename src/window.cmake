# The desktop window: Qt 6 Widgets. The logic lives in a static library that
# both the executable and the tests link.
if(NASFINDER_BUILD_WINDOW)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  include(GNUInstallDirs)

  add_library(nasfinder_ui STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/AppDelegate.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/AppDelegate.h
    ${CMAKE_CURRENT_SOURCE_DIR}/Controller.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/Controller.h
    ${CMAKE_CURRENT_SOURCE_DIR}/FontNode.h
    ${CMAKE_CURRENT_SOURCE_DIR}/ParseOperation.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ParseOperation.h
    ${CMAKE_CURRENT_SOURCE_DIR}/MainWindow.ui
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/nasfinder.qrc
  )
  set_target_properties(nasfinder_ui PROPERTIES AUTOMOC ON AUTOUIC ON AUTORCC ON)
  target_include_directories(nasfinder_ui PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(nasfinder_ui PUBLIC nasregistry Qt6::Widgets)
  target_compile_definitions(nasfinder_ui PRIVATE NASFINDER_VERSION="${PROJECT_VERSION}")
  nasfinder_warnings(nasfinder_ui)

  add_executable(nasfinder ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
  set_target_properties(nasfinder PROPERTIES AUTOMOC ON AUTOUIC ON AUTORCC ON)
  target_link_libraries(nasfinder PRIVATE nasfinder_ui)
  nasfinder_warnings(nasfinder)

  install(TARGETS nasfinder RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/nasfinder.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/window/resources/nasfinder.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/nasfinder.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/nasfinder.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
endif()
