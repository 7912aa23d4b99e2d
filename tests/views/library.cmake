# Tests of the library views and the archive details dialog; included from this folder's
# CMakeLists.txt.
morv_add_test(tst_libraryviews
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_libraryviews.cpp ${CMAKE_CURRENT_LIST_DIR}/../models/libraryfixture.h
  LIBS morvgui morvtestsupport morvresources)
morv_add_test(tst_archivedetailview
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_archivedetailview.cpp ${CMAKE_CURRENT_LIST_DIR}/../models/libraryfixture.h
  LIBS morvgui morvtestsupport morvresources)
