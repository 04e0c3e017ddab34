# Defines the make-recording target; its program lands at <build>/tools/make-recording.
#
# This is deliberately not a CMakeLists.txt: tools/CMakeLists.txt would add this folder with
# add_subdirectory(make-recording), whose binary folder is <build>/tools/make-recording, the very
# path the program must have, so the link fails ("Is a directory"). Until tools/CMakeLists.txt
# gives its subfolders another binary folder, tests/tools includes this file. Safe to include
# more than once.
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
