# The transfer progress window and its helpers are widget code: they go to morvgui.
target_sources(morvgui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/modaleventfilter.cpp ${CMAKE_CURRENT_LIST_DIR}/modaleventfilter.h
  ${CMAKE_CURRENT_LIST_DIR}/transferdialog.cpp ${CMAKE_CURRENT_LIST_DIR}/transferdialog.h
  ${CMAKE_CURRENT_LIST_DIR}/transferindicator.cpp ${CMAKE_CURRENT_LIST_DIR}/transferindicator.h
)
