# Tests of the built Windows executables: checks of the 32-bit file as a
# file, the reproducible-build check, and the end-to-end suite under Wine with
# the 64-bit twin.
find_program(SYSTEM_PYTHON /usr/bin/python3 REQUIRED)

add_test(NAME pe_uninstaller_exe
    COMMAND ${SYSTEM_PYTHON} ${CMAKE_SOURCE_DIR}/tests/pe/check_uninstaller_exe.py ${UNINSTALLER_EXE_32})
set_tests_properties(pe_uninstaller_exe PROPERTIES LABELS "pe")

add_test(NAME reproducible_build
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/repro/check_reproducible_build.sh ${CMAKE_SOURCE_DIR})
set_tests_properties(reproducible_build PROPERTIES LABELS "pe" TIMEOUT 600)
