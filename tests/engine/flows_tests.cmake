# Tests of the activation code, policy rules, download flows, notifications
# and server addresses (included from tests/engine/CMakeLists.txt).
hbr_add_gtest(engine_flows_unit_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/activation_code_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/ppr_test.cpp
  LIBS hbr_engine_test_support lpa_internal)
hbr_add_gtest(engine_download_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/download_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/notification_test.cpp
  LIBS hbr_engine_test_support lpa_internal hbrsim_lpa_seam
  PROPERTIES FIXTURES_REQUIRED hbr_test_pki)
