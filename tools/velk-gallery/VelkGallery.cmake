# Defines the velk-gallery target; its program lands at <build>/tools/velk-gallery.
#
# velk-gallery [OUTPUT.png]: one sheet with every compiled-in picture at its size and number, a
# mock-up of the main window built from them, and each drawn control in each of its states.
# Included by tools/CMakeLists.txt (a subdirectory's binary folder would take the program's
# path), which is read before the top level looks for Qt. Safe to include more than once.
if(NOT TARGET velk-gallery)
    find_package(Qt6 REQUIRED COMPONENTS Widgets)
    add_executable(velk-gallery ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
    target_link_libraries(velk-gallery PRIVATE velk_controls velk_resources Qt6::Widgets)
    set_target_properties(velk-gallery PROPERTIES
        AUTOMOC ON
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
endif()
