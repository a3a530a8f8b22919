# Code that needs no Windows header (the shared lock uses one where there is
# one): built into the Windows libraries and natively alike, by layer.
set(PURE_HANDOFF_SOURCES ${CMAKE_SOURCE_DIR}/handoff/url_policy.cpp
                         ${CMAKE_SOURCE_DIR}/handoff/policy_decision.cpp)
set(PURE_BROWSER_SOURCES ${CMAKE_SOURCE_DIR}/browser/intercept_state.cpp
                         ${CMAKE_SOURCE_DIR}/browser/shared_intercept_state.cpp)
# The list lint and the browsers' policies serve the URL explainer alone.
set(PURE_TOOL_SOURCES ${CMAKE_SOURCE_DIR}/tools/url_explainer/list_lint.cpp
                      ${CMAKE_SOURCE_DIR}/tools/url_explainer/browser_policies.cpp)
# The native messaging host's frames, messages, loop, input rules and record
# of offers.
set(PURE_HOST_SOURCES ${CMAKE_SOURCE_DIR}/native_host/frame.cpp
                      ${CMAKE_SOURCE_DIR}/native_host/message.cpp
                      ${CMAKE_SOURCE_DIR}/native_host/offer_window.cpp
                      ${CMAKE_SOURCE_DIR}/native_host/reply_reasons.cpp
                      ${CMAKE_SOURCE_DIR}/native_host/host_loop.cpp
                      ${CMAKE_SOURCE_DIR}/native_host/input_text.cpp
                      ${CMAKE_SOURCE_DIR}/native_host/offer_log.cpp)
# How the reference agent names what it fetches.
set(PURE_AGENT_SOURCES ${CMAKE_SOURCE_DIR}/agent/fetch_name.cpp)
set(PURE_SOURCES ${PURE_HANDOFF_SOURCES} ${PURE_BROWSER_SOURCES} ${PURE_TOOL_SOURCES}
                 ${PURE_HOST_SOURCES} ${PURE_AGENT_SOURCES})

# Their tests, built natively and into the Windows test executables alike.
set(PURE_TESTS ${CMAKE_SOURCE_DIR}/tests/handoff/url_policy_test.cpp
               ${CMAKE_SOURCE_DIR}/tests/agent/fetch_name_test.cpp
               ${CMAKE_SOURCE_DIR}/tests/browser/intercept_state_test.cpp
               ${CMAKE_SOURCE_DIR}/tests/browser/intercept_threads_test.cpp
               ${CMAKE_SOURCE_DIR}/tests/tools/list_lint_test.cpp
               ${CMAKE_SOURCE_DIR}/tests/native_host/host_loop_test.cpp)

# The Content-Disposition cases the reference agent's reader shares with the
# extension's, compiled into the tests that read them: a test that Wine runs
# finds no file by the build machine's path.
set(CONTENT_DISPOSITION_CASES ${CMAKE_SOURCE_DIR}/tests/content_disposition_cases.json)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CONTENT_DISPOSITION_CASES})
file(READ ${CONTENT_DISPOSITION_CASES} cases)
set(PURE_TESTS_GENERATED ${CMAKE_BINARY_DIR}/generated)
file(CONFIGURE OUTPUT ${PURE_TESTS_GENERATED}/content_disposition_cases.inc
     CONTENT "R\"cases(${cases})cases\"\n" @ONLY)
