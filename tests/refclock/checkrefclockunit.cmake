# Checks quorvel-refclock's systemd unit: systemd accepts it, its sandbox rates as little
# exposed, it keeps no capability and never sets the clock; and cmake --install puts program,
# unit and settings in place, the unit naming the installed program.
#   cmake -DANALYZE=<systemd-analyze> -DUNIT=<unit naming the built program> -DBUILD=<build dir>
#         -DWORK=<empty folder> -P checkrefclockunit.cmake
if(NOT ANALYZE)
    message("SKIPPED: systemd-analyze is not installed (systemd)")
    return()
endif()

execute_process(COMMAND ${ANALYZE} verify --man=no ${UNIT}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR NOT "${output}${errors}" STREQUAL "")
    message(FATAL_ERROR "systemd-analyze verify rejects the unit:\n${output}${errors}")
endif()

# Exposure runs from 0 (nothing exposed) to 10; systemd calls up to 2 "OK".
execute_process(COMMAND ${ANALYZE} security --offline=true ${UNIT}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT output MATCHES "Overall exposure level for [^:]+: ([0-9]+\\.[0-9]+)")
    message(FATAL_ERROR "systemd-analyze security gave no exposure level:\n${output}${errors}")
endif()
set(exposure ${CMAKE_MATCH_1})
message("exposure level: ${exposure}")
if(exposure GREATER 2.0)
    message(FATAL_ERROR "the unit is too exposed (${exposure} > 2.0):\n${output}")
endif()

file(READ ${UNIT} unit)
foreach(line "CapabilityBoundingSet=\n" "ProtectClock=yes" "NoNewPrivileges=yes"
        "After=chrony.service" "WantedBy=multi-user.target")
    string(FIND "${unit}" "${line}" at)
    if(at LESS 0)
        message(FATAL_ERROR "the unit lacks \"${line}\"")
    endif()
endforeach()

set(prefix ${WORK}/prefix)
file(REMOVE_RECURSE ${prefix})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --component refclock --prefix ${prefix}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed:\n${output}${errors}")
endif()
set(installed ${prefix}/lib/systemd/system/quorvel-refclock.service)
if(NOT EXISTS ${prefix}/bin/quorvel-refclock OR NOT EXISTS ${installed})
    message(FATAL_ERROR "cmake --install did not put program and unit in place:\n${output}")
endif()
# The settings, under the prefix too: chrony's refclock line and the service's options.
foreach(settings etc/chrony/conf.d/quorvel.conf etc/default/quorvel-refclock)
    if(NOT EXISTS ${prefix}/${settings})
        message(FATAL_ERROR "cmake --install did not put ${settings} in place:\n${output}")
    endif()
endforeach()
file(STRINGS ${prefix}/etc/chrony/conf.d/quorvel.conf refclockLine REGEX "^refclock ")
if(NOT refclockLine MATCHES "^refclock SOCK /run/chrony\\.quorvel\\.sock ")
    message(FATAL_ERROR "quorvel.conf's refclock line is \"${refclockLine}\"")
endif()
file(STRINGS ${installed} execStart REGEX "^ExecStart=")
if(NOT execStart STREQUAL "ExecStart=${prefix}/bin/quorvel-refclock $QUORVEL_REFCLOCK_OPTS")
    message(FATAL_ERROR "the installed unit starts \"${execStart}\"")
endif()
