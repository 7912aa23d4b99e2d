# Default names and the demo card builder; included from this folder's CMakeLists.txt.
target_sources(morvcore PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/defaultnames.cpp
  ${CMAKE_CURRENT_LIST_DIR}/defaultnames.h
  ${CMAKE_CURRENT_LIST_DIR}/democard.cpp
  ${CMAKE_CURRENT_LIST_DIR}/democard.h
)
