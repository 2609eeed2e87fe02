# The inline display's picture and redraw requests, in-process.
add_executable(lv2_inline_display_tests ${CMAKE_CURRENT_LIST_DIR}/InlineDisplayTest.cpp)
target_link_libraries(lv2_inline_display_tests PRIVATE kestrune_lv2_inline_display
                      kestrune_graphics GTest::gtest_main)
gtest_discover_tests(lv2_inline_display_tests DISCOVERY_TIMEOUT 60)
