# The portable release for Windows: quorvel-<version>-win64.zip, holding quorvel.exe and
# quorvel-cli.exe with the Qt DLLs and plugins they load (the windows platform plugin, the
# styles) and the compiler's runtime DLLs, so that they run wherever they are unpacked. Built
# with `cpack` in the build folder.
if(NOT QUORVEL_BUILD_UI)
    return()
endif()
include(${CMAKE_CURRENT_LIST_DIR}/WindowsRuntime.cmake)

# quorvel-cli.exe: the same program for a console (quorvel-cli --scan).
install(TARGETS quorvel quorvel-cli RUNTIME DESTINATION .)
# Qt looks for its plugins in folders beside the program.
install(FILES ${QUORVEL_QT_BIN_DIR}/Qt6Core.dll ${QUORVEL_QT_BIN_DIR}/Qt6Gui.dll
              ${QUORVEL_QT_BIN_DIR}/Qt6Widgets.dll ${QUORVEL_WIN_RUNTIME_DLLS}
        DESTINATION .)
install(FILES ${QUORVEL_QT_PLUGIN_DIR}/platforms/qwindows.dll DESTINATION platforms)
install(DIRECTORY ${QUORVEL_QT_PLUGIN_DIR}/styles/ DESTINATION styles FILES_MATCHING PATTERN "*.dll")
# The vendor names, made from the build machine's IEEE CSVs; read from the program's folder.
if(QUORVEL_VENDOR_FILE)
    install(FILES ${QUORVEL_VENDOR_FILE} DESTINATION .)
endif()
# The DLLs come with their debugging sections (libstdc++ alone is 23 MB with them).
if(CMAKE_STRIP)
    install(CODE "
        file(GLOB_RECURSE dlls \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/*.dll\")
        foreach(dll \${dlls})
            execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug \"\${dll}\" COMMAND_ERROR_IS_FATAL ANY)
        endforeach()")
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR Quorvel)
set(CPACK_PACKAGE_FILE_NAME quorvel-${PROJECT_VERSION}-win64)
set(CPACK_STRIP_FILES ON)
include(CPack)
