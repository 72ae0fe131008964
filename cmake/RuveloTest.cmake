# ruvelo_add_test(NAME <name> SOURCES <files...> LIBRARIES <targets...>
#                 LABEL unit|widget|e2e [TIMEOUT <seconds>])
# One Qt Test executable per behaviour group, registered with CTest.
function(ruvelo_add_test)
  cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT" "SOURCES;LIBRARIES" ${ARGN})
  if(NOT T_NAME OR NOT T_SOURCES OR NOT T_LABEL)
    message(FATAL_ERROR "ruvelo_add_test needs NAME, SOURCES and LABEL")
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBRARIES})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${T_NAME} PRIVATE
    RUVELO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    RUVELO_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
    RUVELO_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set(env "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")
  if(T_LABEL STREQUAL "widget" OR T_LABEL STREQUAL "e2e")
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES LABELS ${T_LABEL} ENVIRONMENT "${env}" TIMEOUT ${T_TIMEOUT})
endfunction()
