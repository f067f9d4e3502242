# Installation and the Windows installer of pelotest.exe (cpack -G NSIS, scripts/package-windows.sh):
# everything in one folder of the user's own (%LOCALAPPDATA%\Programs\PeloTest), installed without
# administrator rights; pelotest.exe finds its language libraries beside it and keeps its settings
# file there (docs/windows.md).

install(TARGETS pelotest RUNTIME DESTINATION .)
if(TARGET pelotest-window)
    install(TARGETS pelotest-window RUNTIME DESTINATION .)
endif()
install(FILES ${CMAKE_BINARY_DIR}/lang_en.dll DESTINATION .)

set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME PeloTest)
set(CPACK_PACKAGE_VENDOR "PeloTest developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "local server for developing Pelorin templates")
set(CPACK_PACKAGE_INSTALL_DIRECTORY PeloTest)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY PeloTest)
set(CPACK_PACKAGE_FILE_NAME pelotest-${PROJECT_VERSION}-windows-x64)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/packaging/copyright)
set(CPACK_NSIS_INSTALL_ROOT "$LOCALAPPDATA\\\\Programs")
set(CPACK_NSIS_DISPLAY_NAME PeloTest)
set(CPACK_NSIS_PACKAGE_NAME PeloTest)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MODIFY_PATH OFF)
# The Start-menu entry runs the server without a window (the window needs Qt, docs/windows.md).
set(CPACK_NSIS_CREATE_ICONS_EXTRA
    "CreateShortCut '$SMPROGRAMS\\\\$STARTMENU_FOLDER\\\\PeloTest.lnk' '$INSTDIR\\\\pelotest.exe' '--headless'")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "Delete '$SMPROGRAMS\\\\$START_MENU\\\\PeloTest.lnk'")
# What the program itself leaves in its folder goes with it: a save's temporary files. The
# settings file (pelotest.ini) is the user's and stays.
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "Delete '$INSTDIR\\\\.pelotest.ini.pelotest-*'")

# CPack's own NSIS script asks for administrator rights and writes for all users; this program
# installs for the user alone, as a 64-bit Unicode installer. The script is CPack's, with those
# lines changed, written into the build folder where CPack looks for it first.
file(READ ${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in nsis_template)
string(REPLACE "RequestExecutionLevel admin" "RequestExecutionLevel user\n  Target amd64-unicode"
               nsis_template "${nsis_template}")
string(REPLACE "SetShellVarContext all" "SetShellVarContext current" nsis_template
               "${nsis_template}")
string(REPLACE "HKLM \"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
               "HKCU \"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" nsis_template
               "${nsis_template}")
set(nsis_template_dir ${CMAKE_BINARY_DIR}/packaging/nsis)
file(WRITE ${nsis_template_dir}/NSIS.template.in "${nsis_template}")
list(PREPEND CMAKE_MODULE_PATH ${nsis_template_dir})
include(CPack)
