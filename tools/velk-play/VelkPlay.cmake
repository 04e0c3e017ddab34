# velk-play: hosts the engine in a window laid out like the main window, plays recordings from
# the command line, takes commands on standard input and reports every engine message on
# standard output. For watching, scripting and measuring the engine.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets)

add_executable(velk-play
    main.cpp
    PlayHost.cpp PlayHost.h
    FigureReport.cpp FigureReport.h
    VideoHost.h)
set_target_properties(velk-play PROPERTIES
    AUTOMOC ON
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
target_link_libraries(velk-play PRIVATE velk_engine velk_platform_qt Qt6::Widgets)
