# Installs the build into a fresh prefix and runs the installed tessel on a copy of the sample: the
# program must find and load the plug-in installed beside it (and the plug-in its runtime).
# Variables: BUILD_DIR, PREFIX, SAMPLE, PLUGIN_PATH (the plug-in relative to the prefix).
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(file bin/tessel "${PLUGIN_PATH}")
    if(NOT EXISTS "${PREFIX}/${file}")
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

file(MAKE_DIRECTORY "${PREFIX}/work")
file(COPY "${SAMPLE}" DESTINATION "${PREFIX}/work")
execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=TESSEL_PLUGIN "${PREFIX}/bin/tessel" open --help
                RESULT_VARIABLE result OUTPUT_VARIABLE help)
string(FIND "${help}" "${PREFIX}/${PLUGIN_PATH}" at)
if(at EQUAL -1)
    message(FATAL_ERROR "the installed tessel does not choose the installed plug-in:\n${help}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=TESSEL_PLUGIN "${PREFIX}/bin/tessel" open
                        --log-dir "${PREFIX}/work" mail.dxl
                WORKING_DIRECTORY "${PREFIX}/work"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR NOT output MATCHES "mail\\.dxl: OK \\(0\\)")
    message(FATAL_ERROR "the installed tessel failed (${result}):\n${output}${errors}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
