# The toolchain of the "windows" CMake preset: Qt's own toolchain file of the Qt for MinGW,
# which chain-loads mingw-w64-x86_64.cmake (QT_CHAINLOAD_TOOLCHAIN_FILE, set by the preset).
# The Qt is the folder QUORVEL_WIN_QT names, or else the copy that tools/windows/qt.sh unpacks
# into build/windows/qt6-mingw (tools/windows/test.sh runs it).
set(quorvel_win_qt "${CMAKE_CURRENT_LIST_DIR}/../../build/windows/qt6-mingw")
if(IS_DIRECTORY "$ENV{QUORVEL_WIN_QT}")
    set(quorvel_win_qt "$ENV{QUORVEL_WIN_QT}")
endif()
if(NOT EXISTS "${quorvel_win_qt}/lib/cmake/Qt6/qt.toolchain.cmake")
    message(FATAL_ERROR "No Qt for MinGW in ${quorvel_win_qt}: run tools/windows/qt.sh first, "
                        "or set QUORVEL_WIN_QT to the folder where it is unpacked.")
endif()
include("${quorvel_win_qt}/lib/cmake/Qt6/qt.toolchain.cmake")
