# The inline display's picture and redraw requests, in-process, and the
# built plug-in's.
add_executable(lv2_inline_display_tests ${CMAKE_CURRENT_LIST_DIR}/InlineDisplayTest.cpp)
target_link_libraries(lv2_inline_display_tests PRIVATE kestrune_lv2_inline_display
                      kestrune_host kestrune_graphics GTest::gtest_main ${CMAKE_DL_LIBS})
target_compile_definitions(lv2_inline_display_tests PRIVATE
  KESTRUNE_LV2_MODULE="$<TARGET_FILE:kestrune_lv2>"
  KESTRUNE_LV2_BUNDLE="${KESTRUNE_LV2_BUNDLE_DIR}/")
add_dependencies(lv2_inline_display_tests kestrune_lv2)
kestrune_discover_tests(lv2_inline_display_tests)

# The UI's ports, in-process, without a window.
add_executable(lv2_ui_port_tests ${CMAKE_CURRENT_LIST_DIR}/Lv2UiPortTest.cpp)
target_link_libraries(lv2_ui_port_tests PRIVATE kestrune_lv2_ui_plug GTest::gtest_main)
kestrune_discover_tests(lv2_ui_port_tests)

# The UI in jalv, a real host, on its own Xvfb and JACK server. Release
# builds only: a host that is not built with the sanitizers cannot load a
# module that is.
if(NOT TARGET kestrune_lv2_bundle OR NOT TARGET kestrune_lv2_ui OR
   NOT CMAKE_BUILD_TYPE STREQUAL "Release" OR KESTRUNE_SANITIZE OR KESTRUNE_FUZZ)
  return()
endif()
find_program(JALV_GTK3 jalv.gtk3)
find_program(JACKD jackd)
if(NOT JALV_GTK3 OR NOT JACKD)
  message(FATAL_ERROR "jalv or jackd not found; install them with scripts/install-deps.sh")
endif()
find_package(X11 REQUIRED)
add_executable(lv2_jalv_ui_tests ${CMAKE_CURRENT_LIST_DIR}/JalvUiTest.cpp)
target_include_directories(lv2_jalv_ui_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/x11)
target_link_libraries(lv2_jalv_ui_tests PRIVATE kestrune_graphics X11::X11 X11::Xtst GTest::gtest)
target_compile_definitions(lv2_jalv_ui_tests PRIVATE
  KESTRUNE_LV2_BUNDLE="${KESTRUNE_LV2_BUNDLE_DIR}"
  KESTRUNE_TEST_WORK_DIR="${CMAKE_CURRENT_BINARY_DIR}/jalv")
add_dependencies(lv2_jalv_ui_tests kestrune_lv2_bundle kestrune_lv2_ui)
kestrune_discover_tests(lv2_jalv_ui_tests PROPERTIES TIMEOUT 180)
