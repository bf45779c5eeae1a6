# End-to-end tests of the lpa API over the simulated module and eUICC
# (included from tests/engine/CMakeLists.txt).
hbr_add_gtest(engine_api_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/api_lifecycle_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/api_profiles_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/api_records_test.cpp
  LIBS hbr_engine_test_support lpa_internal hbrsim_lpa_seam)
