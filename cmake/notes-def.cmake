# Writes the module-definition file of the Notes runtime DLL (nnotes.dll) that the plug-in imports
# from: every function of our Notes API headers that the plug-in's objects call, with the stdcall
# decoration the compiler gave the call ("NSFDbOpen@8"). dlltool --kill-at then makes an import
# library that binds each decorated call to the DLL's plain export name.
#
#   cmake -DNM=<nm> -DOBJECT_LIST=<file naming one object per line> -DHEADER_DIR=<notes headers>
#         -DDLL_NAME=nnotes.dll -DDEF=<output> [-DDEFINED_SYMBOLS=ON] -P notes-def.cmake
#
# With DEFINED_SYMBOLS=ON the objects are the runtime's own: every API function they define is written,
# which gives an import library for any caller (the tests).
cmake_minimum_required(VERSION 3.25)
foreach(var NM OBJECT_LIST HEADER_DIR DLL_NAME DEF)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "notes-def.cmake: ${var} is not set")
    endif()
endforeach()

# The API's function names, as the headers declare them: "<type> LNPUBLIC <name>(".
file(GLOB headers ${HEADER_DIR}/*.h)
set(api_names "")
foreach(header IN LISTS headers)
    file(READ ${header} text)
    string(REGEX MATCHALL "LNPUBLIC[ \t\r\n]+[A-Za-z_][A-Za-z0-9_]*[ \t\r\n]*\\(" declarations "${text}")
    foreach(declaration IN LISTS declarations)
        string(REGEX REPLACE "LNPUBLIC[ \t\r\n]+([A-Za-z_][A-Za-z0-9_]*).*" "\\1" name "${declaration}")
        list(APPEND api_names ${name})
    endforeach()
endforeach()
list(REMOVE_DUPLICATES api_names)
if(NOT api_names)
    message(FATAL_ERROR "notes-def.cmake: no API declarations found in ${HEADER_DIR}")
endif()

# The undefined symbols of the plug-in's objects: "_Name@N" for stdcall, "_Name" for cdecl.
file(STRINGS ${OBJECT_LIST} objects)
if(DEFINED_SYMBOLS)
    set(nm_filter --defined-only)
    set(symbol_kind "[TU]")
else()
    set(nm_filter --undefined-only)
    set(symbol_kind "U")
endif()
execute_process(COMMAND ${NM} ${nm_filter} --no-sort ${objects}
    OUTPUT_VARIABLE nm_output RESULT_VARIABLE nm_result)
if(NOT nm_result EQUAL 0)
    message(FATAL_ERROR "notes-def.cmake: ${NM} failed (${nm_result})")
endif()
string(REGEX MATCHALL "${symbol_kind} _[A-Za-z_][A-Za-z0-9_]*(@[0-9]+)?" undefined "${nm_output}")

set(exports "")
foreach(symbol IN LISTS undefined)
    string(REGEX REPLACE "^${symbol_kind} _" "" decorated "${symbol}")
    string(REGEX REPLACE "@[0-9]+$" "" name "${decorated}")
    if(name IN_LIST api_names)
        list(APPEND exports ${decorated})
    endif()
endforeach()
list(REMOVE_DUPLICATES exports)
list(SORT exports)
if(NOT exports)
    message(FATAL_ERROR "notes-def.cmake: the objects call no Notes API function")
endif()

set(content "LIBRARY ${DLL_NAME}\nEXPORTS\n")
foreach(export IN LISTS exports)
    string(APPEND content "    ${export}\n")
endforeach()
file(WRITE ${DEF} "${content}")
