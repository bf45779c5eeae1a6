# Tests of the ES9+/ES11 client, the ES10b requests and the bound profile
# package loading (included from tests/engine/CMakeLists.txt).
hbr_add_gtest(engine_es9plus_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/es9plus_client_test.cpp
  LIBS hbr_engine_test_support lpa_internal
  PROPERTIES FIXTURES_REQUIRED hbr_test_pki)

hbr_add_gtest(engine_es10b_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/es10b_test.cpp ${CMAKE_CURRENT_LIST_DIR}/bpp_loader_test.cpp
  LIBS hbr_engine_test_support lpa_internal)

hbr_add_gtest(engine_download_by_hand_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/download_by_hand_test.cpp
  LIBS hbr_engine_test_support lpa_internal
  PROPERTIES FIXTURES_REQUIRED hbr_test_pki)
