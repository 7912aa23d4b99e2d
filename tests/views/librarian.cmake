# Tests of the librarian view; included from this folder's CMakeLists.txt.
morv_add_test(tst_librarianview
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_librarianview.cpp ${CMAKE_CURRENT_LIST_DIR}/tst_librarianfixture.h
  LIBS morvgui morvtestsupport morvresources)
morv_add_test(tst_librariantransfers
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_librariantransfers.cpp ${CMAKE_CURRENT_LIST_DIR}/tst_librarianfixture.h
  LIBS morvgui morvtestsupport morvresources)
