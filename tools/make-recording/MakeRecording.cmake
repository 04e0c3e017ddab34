# Defines the make-recording target; its program lands at <build>/tools/make-recording.
# Included by tools/CMakeLists.txt (a subdirectory's binary folder would take the program's
# path) and by tests/tools. Safe to include more than once.
if(NOT TARGET make-recording)
    add_executable(make-recording
        ${CMAKE_CURRENT_LIST_DIR}/main.cpp
        ${CMAKE_CURRENT_LIST_DIR}/Options.cpp
        ${CMAKE_CURRENT_LIST_DIR}/Picture.cpp
        ${CMAKE_CURRENT_LIST_DIR}/DriveSimulator.cpp
        ${CMAKE_CURRENT_LIST_DIR}/RecordingWriter.cpp)
    target_link_libraries(make-recording PRIVATE PkgConfig::FFMPEG)
    set_target_properties(make-recording PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
endif()
