# The main window (widget layer) and the morv-manager executable. Included from this folder's
# CMakeLists.txt, so relative paths are relative to src/app.
target_sources(morvgui PRIVATE mainwindow.h mainwindow.cpp)

add_executable(morv-manager main.cpp)
target_link_libraries(morv-manager PRIVATE morvgui morvresources)
install(TARGETS morv-manager RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The screenshot driver builds the window itself, so it comes with the window rather than with the
# command-line tools.
if(EXISTS ${PROJECT_SOURCE_DIR}/tools/screenshots/CMakeLists.txt AND NOT TARGET morv-screenshots)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tools/screenshots ${PROJECT_BINARY_DIR}/tools/screenshots)
endif()
