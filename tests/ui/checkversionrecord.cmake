# Compiles the Windows version record with the MinGW resource compiler, reads the compiled
# resource back as text and checks what it holds.
#   cmake -DWINDRES=<windres> -DRC=<quorvel.rc> -DWORK=<folder> -P checkversionrecord.cmake
if(NOT WINDRES)
    message("SKIPPED: x86_64-w64-mingw32-windres is not installed (binutils-mingw-w64-x86-64)")
    return()
endif()

execute_process(
    COMMAND ${WINDRES} --preprocessor=cpp -i ${RC} -O res -o ${WORK}/quorvel.res
    RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the resource file does not compile:\n${errors}")
endif()
execute_process(
    COMMAND ${WINDRES} -J res -i ${WORK}/quorvel.res -O rc
    RESULT_VARIABLE result OUTPUT_VARIABLE compiled ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the compiled resource does not read back:\n${errors}")
endif()

set(expected
    "LANGUAGE 10, 3"
    "RT_GROUP_ICON"
    "Has 2 elements"
    "FILEVERSION 1, 0, 0, 0"
    "PRODUCTVERSION 1, 0, 0, 0"
    "FILETYPE 0x1\n"
    "BLOCK \"0C0A04B0\""
    "VALUE \"FileVersion\", \"1.00\""
    "VALUE \"ProductVersion\", \"1.00\""
    "VALUE \"ProductName\", \"Quorvel2\""
    "VALUE \"InternalName\", \"Quorvel2\""
    "VALUE \"OriginalFilename\", \"Quorvel2.exe\""
    "VALUE \"Translation\", 0xc0a, 1200")
foreach(line IN LISTS expected)
    string(FIND "${compiled}" "${line}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the version record lacks: ${line}\n${compiled}")
    endif()
endforeach()
string(REGEX MATCHALL "BLOCK \"[0-9A-Fa-f]+\"" tables "${compiled}")
list(LENGTH tables count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one string table, found: ${tables}")
endif()
message("version record as expected")
