# Tests of the error codes, BER-TLV and raw data objects and the encoding
# utilities (included from tests/engine/CMakeLists.txt).
add_library(hbr_log_recorder STATIC ${CMAKE_CURRENT_LIST_DIR}/log_recorder.cpp)
target_link_libraries(hbr_log_recorder PUBLIC lpa_internal PRIVATE hbr_warnings)

hbr_add_gtest(engine_errors_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/errors_test.cpp
  LIBS hbr_log_recorder lpa_internal)

hbr_add_gtest(engine_bertlv_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bertlv_test.cpp
  LIBS hbr_log_recorder lpa_internal)

hbr_add_gtest(engine_encoding_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/encoding_test.cpp
  LIBS hbr_log_recorder hbr_engine_test_support lpa_internal OpenSSL::Crypto)
