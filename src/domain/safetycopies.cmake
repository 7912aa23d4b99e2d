# The safety copies of the card library; included from this folder's CMakeLists.txt.
target_sources(morvcore PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/safetycopies.cpp
  ${CMAKE_CURRENT_LIST_DIR}/safetycopies.h
)
