# cmake -DDIR=<folder> -P CheckNoQt.cmake: fails when a source directly in DIR includes a Qt header.
file(GLOB sources "${DIR}/*.h" "${DIR}/*.cpp" "${DIR}/*.hpp")
foreach(src IN LISTS sources)
    file(STRINGS "${src}" hits REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](Q[A-Za-z]+|Qt[A-Za-z]*/)")
    if(hits)
        message(FATAL_ERROR "${src} includes a Qt header; ${DIR} must stay Qt-free: ${hits}")
    endif()
endforeach()
