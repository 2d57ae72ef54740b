# Fails when any tracked C++ file differs from what clang-format would make of it.
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
    ${SOURCE_DIR}/app/*.cpp ${SOURCE_DIR}/app/*.h
    ${SOURCE_DIR}/support/*.cpp ${SOURCE_DIR}/support/*.h
    ${SOURCE_DIR}/hls/*.cpp ${SOURCE_DIR}/hls/*.h
    ${SOURCE_DIR}/tasks/*.cpp ${SOURCE_DIR}/tasks/*.h
    ${SOURCE_DIR}/workbench/*.cpp ${SOURCE_DIR}/workbench/*.h
    ${SOURCE_DIR}/batch/*.cpp ${SOURCE_DIR}/batch/*.h
    ${SOURCE_DIR}/cli/*.cpp ${SOURCE_DIR}/cli/*.h
    ${SOURCE_DIR}/tests/*.cpp ${SOURCE_DIR}/tests/*.h)
set(bad "")
foreach(f IN LISTS sources)
    execute_process(COMMAND ${CLANG_FORMAT} --dry-run -Werror ${SOURCE_DIR}/${f}
        RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(NOT rc EQUAL 0)
        list(APPEND bad ${f})
    endif()
endforeach()
if(bad)
    string(REPLACE ";" "\n  " bad "${bad}")
    message(FATAL_ERROR "Not clang-format clean (run clang-format -i):\n  ${bad}")
endif()
list(LENGTH sources n)
message(STATUS "${n} files clang-format clean")
