# Tests of the library models; included from this folder's CMakeLists.txt.
morv_add_test(tst_librarydatamodel
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_librarydatamodel.cpp ${CMAKE_CURRENT_LIST_DIR}/libraryfixture.h
  LIBS morvgui morvtestsupport morvresources)
morv_add_test(tst_sortedlibrarymodel
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_sortedlibrarymodel.cpp ${CMAKE_CURRENT_LIST_DIR}/libraryfixture.h
  LIBS morvgui morvtestsupport morvresources)
