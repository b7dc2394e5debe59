# The Windows installer, quorvel-<version>-win64-setup.exe (target `installer`, with NSIS's
# makensis): the files of the zip, staged by the same install rules and stripped as cpack strips
# them, listed one by one so that its uninstaller removes exactly those (res/windows/installer.nsi).
if(NOT QUORVEL_BUILD_UI)
    return()
endif()
find_program(QUORVEL_MAKENSIS makensis)
if(NOT QUORVEL_MAKENSIS)
    message(STATUS "makensis not found: no installer target (apt-get install nsis)")
    return()
endif()
set(dir ${CMAKE_BINARY_DIR}/installer)
set(setup ${CMAKE_BINARY_DIR}/quorvel-${PROJECT_VERSION}-win64-setup.exe)
set(script ${PROJECT_SOURCE_DIR}/res/windows/installer.nsi)
add_custom_command(OUTPUT ${setup}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${dir}/stage
    COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --prefix ${dir}/stage --strip
    COMMAND ${CMAKE_COMMAND} -DSTAGE=${dir}/stage -DFILES=${dir}/files.nsh
        -DUNFILES=${dir}/unfiles.nsh -DSIZE_FILE=${dir}/size.txt
        -P ${CMAKE_CURRENT_LIST_DIR}/InstallerLists.cmake
    COMMAND ${QUORVEL_MAKENSIS} -V2 -WX -INPUTCHARSET UTF8 -DVERSION=${PROJECT_VERSION}
        -DFILES=${dir}/files.nsh -DUNFILES=${dir}/unfiles.nsh -DSIZE_FILE=${dir}/size.txt
        -DICON=${PROJECT_SOURCE_DIR}/res/windows/quorvel.ico -DOUTFILE=${setup} ${script}
    DEPENDS quorvel quorvel-cli ${script} ${CMAKE_CURRENT_LIST_DIR}/InstallerLists.cmake
    COMMENT "Building the installer ${setup}"
    VERBATIM)
add_custom_target(installer DEPENDS ${setup})
# Whatever else the install rules take that a plain build makes (the vendor file).
if(TARGET quorvel_vendor_file)
    add_dependencies(installer quorvel_vendor_file)
endif()
