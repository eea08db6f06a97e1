# The window's tests in a Windows cross build, run under Wine: the window and
# preview tests, the window program driven through the demo, and the zip a
# Windows user gets, unpacked and run on its own.

# Under Wine the Qt DLLs and the runtime's DLLs are found through the search
# path that WINEPATH adds to; Qt finds its plugins beside its DLLs.
set(dll_dirs "${BORVANTEL_QT_WINDOWS}/bin")
foreach(dll libstdc++-6.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll} OUTPUT_VARIABLE found
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  cmake_path(GET found PARENT_PATH found)
  list(APPEND dll_dirs ${found})
endforeach()
# Windows paths on Wine's drive Z:, joined by ";".
set(winepath "")
foreach(dir ${dll_dirs})
  cmake_path(NORMAL_PATH dir)
  string(REGEX REPLACE "/$" "" dir "${dir}")
  string(REPLACE "/" "\\" dir "Z:${dir}")
  list(APPEND winepath "${dir}")
endforeach()
list(JOIN winepath "\\;" winepath_escaped)  # one item of a property list
list(JOIN winepath ";" winepath)
set(wine ${CMAKE_CROSSCOMPILING_EMULATOR})
set(program ${CMAKE_BINARY_DIR}/src/borvantel.exe)

# Wine keeps the Linux side's QT_ variables away from Windows programs (they
# are meant for Linux's Qt); a WINEQT_ variable reaches them as QT_.
add_test(NAME test_window COMMAND test_window)
set_tests_properties(test_window PROPERTIES
  ENVIRONMENT "WINEDEBUG=-all;WINEQT_QPA_PLATFORM=offscreen;WINEPATH=${winepath_escaped}")

# The window program from the build tree, through Wine.
set(window_command ${CMAKE_CURRENT_BINARY_DIR}/borvantel.sh)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/wine_program.sh.in ${window_command} @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
add_test(NAME WindowDrivenThroughTheDemo
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/window_driven.sh ${window_command} ${cli_command}
          ${PROJECT_SOURCE_DIR}/demo ${CMAKE_CURRENT_BINARY_DIR}/driver-plugins)

# The zip, made by the script a release uses, then unpacked into an empty
# directory and run from there with nothing else on the search path.
add_test(NAME WindowsZipBuilt
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/package-windows.sh ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}/dist)
set_tests_properties(WindowsZipBuilt PROPERTIES FIXTURES_SETUP windows_zip)
add_test(NAME WindowsZipRunsOnItsOwn
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows_zip.sh ${PROJECT_SOURCE_DIR}/dist ${CMAKE_OBJDUMP}
          ${CMAKE_CROSSCOMPILING_EMULATOR} ${PROJECT_SOURCE_DIR}/demo ${CMAKE_CURRENT_BINARY_DIR}/driver-plugins)
set_tests_properties(WindowsZipRunsOnItsOwn PROPERTIES FIXTURES_REQUIRED windows_zip)

# The installer from the same script: installed silently into a fresh prefix,
# run, upgraded and uninstalled as a user would.
add_test(NAME WindowsInstaller
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows_installer.sh ${PROJECT_SOURCE_DIR}/dist
          ${CMAKE_CROSSCOMPILING_EMULATOR} ${PROJECT_SOURCE_DIR}/demo ${CMAKE_CURRENT_BINARY_DIR}/driver-plugins
          ${PROJECT_VERSION})
set_tests_properties(WindowsInstaller PROPERTIES FIXTURES_REQUIRED windows_zip)

# The window program's icon, version information and manifest, read back.
add_test(NAME WindowsResourcesOfTheWindow
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows_resources.sh $<TARGET_FILE:borvantel> ${PROJECT_VERSION}
          "Borvantel – kategorie plików *.inc scenerii")

# One window program per Windows session (a named mutex), so the tests that
# start one must not overlap; and beside test_recovery, which starts and kills
# Wine processes by the hundred, a window took forty times as long to start.
set_tests_properties(test_window WindowDrivenThroughTheDemo WindowsZipRunsOnItsOwn WindowsInstaller
  PROPERTIES RUN_SERIAL ON)
