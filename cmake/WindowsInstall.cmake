# cmake --install on Windows: the two programs, the Qt libraries and plug-ins
# they need (windeployqt, run as part of the install step), and the
# documentation. gm7bridge.exe comes from the 32-bit build (its own preset)
# and is added by the installer (packaging/windows/ruvelo.nsi).
install(TARGETS ruvelo ruvelo-import RUNTIME DESTINATION .)
install(FILES README.md docs/conventions.md DESTINATION doc)

get_target_property(_qmake Qt6::qmake IMPORTED_LOCATION)
get_filename_component(_qtBin "${_qmake}" DIRECTORY)
find_program(WINDEPLOYQT windeployqt HINTS "${_qtBin}" REQUIRED)
install(CODE "
  execute_process(
    COMMAND \"${WINDEPLOYQT}\" --release --no-translations --no-system-d3d-compiler
            --dir \"\${CMAKE_INSTALL_PREFIX}\"
            \"\${CMAKE_INSTALL_PREFIX}/ruvelo.exe\" \"\${CMAKE_INSTALL_PREFIX}/ruvelo-import.exe\"
    COMMAND_ERROR_IS_FATAL ANY)
")
