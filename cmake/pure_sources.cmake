# Code without a Windows header: built into the DLL and natively alike.
set(PURE_SOURCES ${CMAKE_SOURCE_DIR}/handoff/url_policy.cpp)

# Their tests, built natively and into the Windows test executables alike.
set(PURE_TESTS ${CMAKE_SOURCE_DIR}/tests/handoff/url_policy_test.cpp)
