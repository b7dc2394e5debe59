# Cross-build for 64-bit Windows with Debian's mingw-w64 (the posix thread model, which
# std::thread needs). Test programs run under Wine through wine-run.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUORVEL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORVEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORVEL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt 6 for mingw-w64 as scripts/build-qt-mingw.sh provides it: QUORVEL_QT_MINGW names its folder,
# else the one the script last pointed at. Its moc, rcc and uic are the host's.
if(NOT QUORVEL_QT_MINGW AND DEFINED ENV{QUORVEL_QT_MINGW})
    set(QUORVEL_QT_MINGW $ENV{QUORVEL_QT_MINGW})
endif()
if(NOT QUORVEL_QT_MINGW)
    foreach(cache /var/cache/quorvel $ENV{XDG_CACHE_HOME}/quorvel $ENV{HOME}/.cache/quorvel)
        if(EXISTS ${cache}/qt6-mingw64/lib/cmake/Qt6)
            file(REAL_PATH ${cache}/qt6-mingw64 QUORVEL_QT_MINGW)
            break()
        endif()
    endforeach()
endif()
if(QUORVEL_QT_MINGW)
    list(APPEND CMAKE_FIND_ROOT_PATH ${QUORVEL_QT_MINGW})
    list(APPEND CMAKE_PREFIX_PATH ${QUORVEL_QT_MINGW})
    set(QT_HOST_PATH /usr)
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
endif()

# libgcc, libstdc++ and winpthread linked in, so that the programs without Qt need no DLL beside
# them (Qt's own DLLs bring theirs; the zip holds them).
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
