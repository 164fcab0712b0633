# Checks a program's manual page against its --help: every option that --help lists appears
# in the page, every option that the page's OPTIONS section lists is one that --help lists,
# and man(1) formats the page without a warning.
#   cmake -DPROGRAM=<program> -DPAGE=<page.1> [-DMAN=<man>] -P checkmanpage.cmake
execute_process(COMMAND ${PROGRAM} --help
    RESULT_VARIABLE result OUTPUT_VARIABLE help ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --help ended with ${result}:\n${help}${errors}")
endif()

# The options of --help: in each line that starts with two spaces and a dash, the names before
# the description ("  -h, --help   Displays ...", "  --port <port>  ...").
set(helpOptions "")
string(REPLACE "\n" ";" lines "${help}")
foreach(line IN LISTS lines)
    if(NOT line MATCHES "^  -")
        continue()
    endif()
    string(SUBSTRING "${line}" 2 -1 line)
    string(FIND "${line}" "  " end)
    if(end GREATER 0)
        string(SUBSTRING "${line}" 0 ${end} line)
    endif()
    string(REGEX REPLACE "<[^>]*>" "" line "${line}")
    string(REGEX MATCHALL "--?[A-Za-z0-9][A-Za-z0-9-]*" names "${line}")
    list(APPEND helpOptions ${names})
endforeach()
if(NOT helpOptions)
    message(FATAL_ERROR "no option found in ${PROGRAM} --help:\n${help}")
endif()

# The page as text: roff's \- is a dash, and font changes (\fB, \fR, \f(CW) are dropped.
file(READ ${PAGE} page)
string(REPLACE "\\-" "-" page "${page}")
string(REGEX REPLACE "\\\\f(\\([A-Z][A-Z]|[A-Z])" "" page "${page}")

set(missing "")
foreach(option IN LISTS helpOptions)
    if(NOT page MATCHES "(^|[^A-Za-z0-9-])${option}([^A-Za-z0-9-]|$)")
        list(APPEND missing ${option})
    endif()
endforeach()
if(missing)
    message(FATAL_ERROR "${PAGE} does not describe ${missing} (from ${PROGRAM} --help)")
endif()

# The page's own list: the line after each .TP in the OPTIONS section names options.
if(NOT page MATCHES "\n\\.SH OPTIONS\n(.*)")
    message(FATAL_ERROR "${PAGE} has no OPTIONS section")
endif()
set(section "${CMAKE_MATCH_1}")
string(FIND "${section}" "\n.SH " end)
if(end GREATER_EQUAL 0)
    string(SUBSTRING "${section}" 0 ${end} section)
endif()
string(REGEX MATCHALL "\\.TP\n[^\n]*" items "${section}")
set(stale "")
foreach(item IN LISTS items)
    # Names that start a word: not the "-refclock" of "quorvel-refclock".
    string(REGEX MATCHALL "(^|[^A-Za-z0-9-])--?[A-Za-z0-9][A-Za-z0-9-]*" names "${item}")
    foreach(name IN LISTS names)
        string(REGEX REPLACE "^[^-]" "" name "${name}")
        list(FIND helpOptions ${name} at)
        if(at LESS 0)
            list(APPEND stale ${name})
        endif()
    endforeach()
endforeach()
if(stale)
    message(FATAL_ERROR "${PAGE} describes ${stale}, which ${PROGRAM} --help does not list")
endif()
list(LENGTH helpOptions count)
message("${PAGE}: all ${count} options of --help described: ${helpOptions}")

if(MAN)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 MANWIDTH=80
            ${MAN} --warnings -E UTF-8 -l -Tutf8 -Z ${PAGE}
        RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE warnings)
    if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
        message(FATAL_ERROR "man reports on ${PAGE}:\n${warnings}")
    endif()
endif()
