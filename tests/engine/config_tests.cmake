# Tests of the configuration parameters, the HTTP media and the curl driver
# (included from tests/engine/CMakeLists.txt).
hbr_add_gtest(engine_config_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/config_test.cpp
  LIBS hbr_engine_test_support lpa_internal)
