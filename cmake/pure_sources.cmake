# Code that needs no Windows header (the shared lock uses one where there is
# one): built into the DLL and natively alike.
set(PURE_SOURCES ${CMAKE_SOURCE_DIR}/handoff/url_policy.cpp
                 ${CMAKE_SOURCE_DIR}/handoff/list_lint.cpp
                 ${CMAKE_SOURCE_DIR}/browser/intercept_state.cpp
                 ${CMAKE_SOURCE_DIR}/browser/shared_intercept_state.cpp)

# Their tests, built natively and into the Windows test executables alike.
set(PURE_TESTS ${CMAKE_SOURCE_DIR}/tests/handoff/url_policy_test.cpp
               ${CMAKE_SOURCE_DIR}/tests/browser/intercept_state_test.cpp
               ${CMAKE_SOURCE_DIR}/tests/browser/intercept_threads_test.cpp)
