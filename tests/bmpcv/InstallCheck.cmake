# Installs the image converter into a fresh prefix and checks that it lands in the directory where
# the installed plug-in lives, which is where the host looks for "bmpcv.dll".
file(REMOVE_RECURSE "${PREFIX}")
execute_process(
    COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}" --component bmpcv
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed (${result}): ${output}")
endif()
set(expected "${PREFIX}/${PLUGIN_DIR}/${LIBRARY_FILE}")
if(NOT EXISTS "${expected}")
    file(GLOB_RECURSE installed RELATIVE "${PREFIX}" "${PREFIX}/*")
    message(FATAL_ERROR "${LIBRARY_FILE} is not in ${PREFIX}/${PLUGIN_DIR}; installed: ${installed}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
