# quorvel-refclock on Windows: the same port, frame rules and frame time as on Linux; the
# samples go to the pipe of QuorvelTimeProvider.dll, the device is shared with the window over a
# pipe of its own (share/), and the program runs as the Windows service quorvel-refclock
# (--service). It calibrates the device against an NTP server over SNTP (QtNetwork).
add_library(quorvel_refclock_lib STATIC
    calibration.cpp calibration.h
    chronysocket.cpp chronysocket.h
    chronystatus.cpp chronystatus.h
    chronywatch.cpp chronywatch.h
    referenceclock.cpp referenceclock.h
    refclocklog.cpp refclocklog.h
    refclockoptions.cpp refclockoptions.h
    refclockservice.cpp refclockservice.h
    samplepipeserver.cpp samplepipeserver.h
    samplesink.h
    selfcalibration.cpp selfcalibration.h
    sntp.cpp sntp.h
    statuscommand.cpp statuscommand.h
    windowsservice.cpp windowsservice.h
)
target_compile_definitions(quorvel_refclock_lib PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_link_libraries(quorvel_refclock_lib PUBLIC Qt6::Core Qt6::Network quorvel_core quorvel_frametime
    quorvel_serial quorvel_share quorvel_samplepipe advapi32 shell32 ole32)

qt_add_executable(quorvel-refclock main.cpp)
set_target_properties(quorvel-refclock PROPERTIES
    WIN32_EXECUTABLE OFF
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_compile_definitions(quorvel-refclock PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_link_libraries(quorvel-refclock PRIVATE quorvel_refclock_lib)
