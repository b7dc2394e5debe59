# What a cross-built program with the window needs beside it: Qt's DLLs and plugins and the
# compiler's runtime DLLs, which Qt's DLLs link to.
#   QUORVEL_QT_BIN_DIR, QUORVEL_QT_PLUGIN_DIR   Qt's DLLs and plugins
#   QUORVEL_WIN_RUNTIME_DLLS                    libstdc++-6, libgcc_s_seh-1, libwinpthread-1
#   QUORVEL_WIN_DLL_DIRS                        the folders Wine must search for them
find_package(Qt6 REQUIRED COMPONENTS Core)
cmake_path(APPEND QT6_INSTALL_PREFIX ${QT6_INSTALL_BINS} OUTPUT_VARIABLE QUORVEL_QT_BIN_DIR)
cmake_path(APPEND QT6_INSTALL_PREFIX ${QT6_INSTALL_PLUGINS} OUTPUT_VARIABLE QUORVEL_QT_PLUGIN_DIR)

set(QUORVEL_WIN_RUNTIME_DLLS "")
set(QUORVEL_WIN_DLL_DIRS ${QUORVEL_QT_BIN_DIR})
if(MINGW)
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
            OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
            message(FATAL_ERROR "${CMAKE_CXX_COMPILER} has no ${dll}")
        endif()
        file(REAL_PATH ${path} path)
        list(APPEND QUORVEL_WIN_RUNTIME_DLLS ${path})
        cmake_path(GET path PARENT_PATH dir)
        list(APPEND QUORVEL_WIN_DLL_DIRS ${dir})
    endforeach()
endif()
list(REMOVE_DUPLICATES QUORVEL_WIN_DLL_DIRS)
