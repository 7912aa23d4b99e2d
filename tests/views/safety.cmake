# Tests of the safety net's window parts: the Verify command, the transfer dialog's phases and
# speed, the settings dialog and the safety copies; included from this folder's CMakeLists.txt.
morv_add_test(tst_verifydialog
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_verifydialog.cpp ${CMAKE_CURRENT_LIST_DIR}/tst_librarianfixture.h
  LIBS morvgui morvtestsupport morvresources)
morv_add_test(tst_transferprogress SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_transferprogress.cpp
  LIBS morvgui morvresources)
morv_add_test(tst_settingsdialog SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_settingsdialog.cpp LIBS morvgui)
morv_add_test(tst_librariansafety
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_librariansafety.cpp ${CMAKE_CURRENT_LIST_DIR}/tst_librarianfixture.h
  LIBS morvgui morvtestsupport morvresources)
