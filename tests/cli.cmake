# pivzona12-cli driven from outside, on a small demo installation.
add_test(NAME cli COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/cli_test.sh ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(cli PROPERTIES TIMEOUT 300)
