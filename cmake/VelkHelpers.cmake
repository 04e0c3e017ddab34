# add_velk_test(NAME name SOURCES ... LIBS ... [LABELS unit|gui|e2e ...] [TIMEOUT s]
#               [WHOLE_TIMEOUT s] [ARGS ...] [ENV VAR=value ...] [NAMED_PARAMETERS])
# One test executable; GoogleTest discovers its cases so each shows in CTest by name.
# Each case runs as a test of its own, and the whole program once more as one process
# (NAME_in_one_process, WHOLE_TIMEOUT s, default 900), as the viewer runs many playbacks in
# one process: state that one case leaves behind fails there even when every case passes alone.
# NAMED_PARAMETERS: the parameterised cases name themselves (a name generator), so CTest lists
# that name alone instead of appending the printed parameter.
include(GoogleTest)
function(add_velk_test)
    cmake_parse_arguments(T "NAMED_PARAMETERS" "NAME;TIMEOUT;WHOLE_TIMEOUT"
        "SOURCES;LIBS;LABELS;ARGS;ENV"
        ${ARGN})
    set(pretty_values)
    if(T_NAMED_PARAMETERS)
        set(pretty_values NO_PRETTY_VALUES)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    if(NOT T_LABELS)
        set(T_LABELS unit)
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
    target_compile_definitions(${T_NAME} PRIVATE
        VELK_SOURCE_DIR="${CMAKE_SOURCE_DIR}" VELK_BINARY_DIR="${CMAKE_BINARY_DIR}")
    gtest_discover_tests(${T_NAME} ${pretty_values}
        EXTRA_ARGS ${T_ARGS}
        DISCOVERY_TIMEOUT 60
        TEST_LIST ${T_NAME}_TESTS
        PROPERTIES TIMEOUT ${T_TIMEOUT})
    # Labels and environment are lists: gtest_discover_tests splits a list given in PROPERTIES
    # into separate words (only its first item survived), so they are set by a script of their
    # own, which CTest runs after the discovered tests are defined.
    set(environment SDL_AUDIODRIVER=dummy ${T_ENV})
    set(properties ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_properties.cmake)
    file(WRITE ${properties}
        "foreach(test IN LISTS ${T_NAME}_TESTS)\n"
        "    set_tests_properties(\"\${test}\" PROPERTIES\n"
        "        LABELS \"${T_LABELS}\" ENVIRONMENT \"${environment}\")\n"
        "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${properties})

    if(NOT T_WHOLE_TIMEOUT)
        set(T_WHOLE_TIMEOUT 900)
    endif()
    add_test(NAME ${T_NAME}_in_one_process COMMAND ${T_NAME} ${T_ARGS})
    set_tests_properties(${T_NAME}_in_one_process PROPERTIES
        TIMEOUT ${T_WHOLE_TIMEOUT} LABELS "${T_LABELS}" ENVIRONMENT "${environment}")
endfunction()

# Keeps a folder free of Qt: every build greps its sources and fails on a Qt include.
function(velk_forbid_qt target dir)
    add_custom_target(${target}_no_qt
        COMMAND ${CMAKE_COMMAND} -DDIR=${dir} -P ${CMAKE_SOURCE_DIR}/cmake/CheckNoQt.cmake
        COMMENT "Checking that ${dir} includes no Qt header" VERBATIM)
    add_dependencies(${target} ${target}_no_qt)
endfunction()
