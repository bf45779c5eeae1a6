# Tests of the configuration parameters, the HTTP media and the curl driver
# (included from tests/engine/CMakeLists.txt).
hbr_add_gtest(engine_config_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/config_test.cpp
  LIBS hbr_engine_test_support lpa_internal)

hbr_add_gtest(engine_httpmedia_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/httpmedia_curl_test.cpp
  LIBS hbr_engine_test_support lpa_internal
  PROPERTIES FIXTURES_REQUIRED hbr_test_pki)
target_compile_definitions(engine_httpmedia_test PRIVATE
  HBR_TEST_OPENSSL_MIN_TLS1_CONF="${CMAKE_CURRENT_LIST_DIR}/data/openssl_min_tls1.cnf")
