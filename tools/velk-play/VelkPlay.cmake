# Defines the velk-play target; its program lands at <build>/tools/velk-play.
#
# velk-play: hosts the engine in a window laid out like the main window, plays recordings from
# the command line, takes commands on standard input and reports every engine message on
# standard output. For watching, scripting and measuring the engine.
# Included by tools/CMakeLists.txt (a subdirectory's binary folder would take the program's
# path). Safe to include more than once.
if(NOT TARGET velk-play)
    find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets)
    add_executable(velk-play
        ${CMAKE_CURRENT_LIST_DIR}/main.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PlayHost.cpp ${CMAKE_CURRENT_LIST_DIR}/PlayHost.h
        ${CMAKE_CURRENT_LIST_DIR}/FigureReport.cpp ${CMAKE_CURRENT_LIST_DIR}/FigureReport.h)
    set_target_properties(velk-play PROPERTIES
        AUTOMOC ON
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
    target_link_libraries(velk-play PRIVATE velk_engine velk_platform_qt velk_front_panel Qt6::Widgets)
endif()
