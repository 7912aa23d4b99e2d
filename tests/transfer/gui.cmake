# Tests of the transfer progress window and its helpers (widget code); included from this
# folder's CMakeLists.txt.
morv_add_test(tst_transferdialog SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_transferdialog.cpp
              LIBS morvgui morvtestsupport morvresources)
morv_add_test(tst_modaleventfilter SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_modaleventfilter.cpp
              LIBS morvgui morvtestsupport morvresources)
morv_add_test(tst_transferindicator SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_transferindicator.cpp
              LIBS morvgui morvtestsupport morvresources)
