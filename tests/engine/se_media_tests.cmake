# Tests of the SE media, the card connection and the generic-modem driver
# against the simulated module (included from tests/engine/CMakeLists.txt).
hbr_add_gtest(engine_se_media_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/se_media_test.cpp ${CMAKE_CURRENT_LIST_DIR}/genericmodem_test.cpp
  LIBS hbr_engine_test_support lpa_internal)
