# The main window (widget layer) and the morv-manager executable. Included from this folder's
# CMakeLists.txt, so relative paths are relative to src/app.
target_sources(morvgui PRIVATE mainwindow.h mainwindow.cpp)
# Where an installed copy finds the user guide when it is not beside the executable.
target_compile_definitions(morvgui PRIVATE MORV_INSTALLED_DOC_DIR="${CMAKE_INSTALL_FULL_DOCDIR}")

add_executable(morv-manager main.cpp)
target_link_libraries(morv-manager PRIVATE morvgui morvresources)
install(TARGETS morv-manager RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The screenshot driver builds the window itself, so it comes with the window rather than with the
# command-line tools.
if(EXISTS ${PROJECT_SOURCE_DIR}/tools/screenshots/CMakeLists.txt AND NOT TARGET morv-screenshots)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tools/screenshots ${PROJECT_BINARY_DIR}/tools/screenshots)
endif()
