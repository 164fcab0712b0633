# Checks quorvel's command line as a user meets it: what it prints and its exit status.
#   cmake -DPROGRAM=<quorvel> -DVERSION=<project version> -P checkcommandline.cmake
# Each case: arguments (separated by "|"), expected exit status, a regular expression that
# the output must match (stdout for status 0, stderr otherwise).
set(cases
    "--version" 0 "^quorvel ${VERSION}\n$"
    "-v" 0 "^quorvel ${VERSION}\n$"
    "--help" 0 "-v, --version"
    # Qt's own words in it are Spanish too, whatever the desktop's language.
    "--help" 0 "^Uso: .*\nOpciones:\n"
    "--bogus" 1 "bogus"
    "COM1" 1 "\"COM1\""
    "--version|extra" 0 "^quorvel ${VERSION}\n$"
    # Qt's own options are QApplication's, not unknown ones: without QT_QPA_PLATFORM
    # (unset below) and without a display, only -platform lets the program start at all.
    "-platform|offscreen|--version" 0 "^quorvel ${VERSION}\n$"
)
unset(ENV{QT_QPA_PLATFORM})
unset(ENV{DISPLAY})
unset(ENV{WAYLAND_DISPLAY})
set(failures "")
list(LENGTH cases count)
math(EXPR last "${count} - 1")
foreach(at RANGE 0 ${last} 3)
    math(EXPR statusAt "${at} + 1")
    math(EXPR patternAt "${at} + 2")
    list(GET cases ${at} arguments)
    list(GET cases ${statusAt} status)
    list(GET cases ${patternAt} pattern)
    string(REPLACE "|" ";" argumentList "${arguments}")
    if(NOT arguments MATCHES "^-platform")
        list(PREPEND argumentList -platform offscreen)
    endif()
    execute_process(COMMAND ${PROGRAM} ${argumentList}
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    set(shown "${output}")
    if(NOT status EQUAL 0)
        set(shown "${errors}")
    endif()
    if(NOT result STREQUAL status OR NOT shown MATCHES "${pattern}")
        string(APPEND failures "quorvel ${argumentList}: status ${result} (want ${status}), "
            "output \"${shown}\" (want /${pattern}/)\n")
    endif()
endforeach()
if(failures)
    message(FATAL_ERROR "${failures}")
endif()
math(EXPR cases "${count} / 3")
message("${cases} command lines as expected")
