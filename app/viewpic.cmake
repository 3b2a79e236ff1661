# The picture window, part of plm_app (included by CMakeLists.txt).
target_sources(plm_app PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/U_ViewPic.cpp ${CMAKE_CURRENT_LIST_DIR}/U_ViewPic.h
  ${CMAKE_CURRENT_LIST_DIR}/U_ViewPic.ui)
