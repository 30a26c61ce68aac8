# Tests of the built Windows executables: checks of the 32-bit file as a
# file and of its signing, the reproducible-build check, the suites under
# Wine, and the sanitized, fuzzing and analysis runs.
#
# The test command runs these side by side (ctest -j, tools/test.sh): much of
# their time is waiting, on dialogs, processes and time bounds. Nothing is
# shared between them (each run under Wine has its own X server, prefixes
# and Wine server; only wine_product_i686 uses the emulated 32-bit Wine), so
# no entry locks another out. What only keeps the processors busy (builds,
# the fuzzers, the analysis) runs under nice: the runs under Wine, whose
# bounds are times, and the emulated 32-bit Wine, the longest entry, come
# first. COST starts the longest entries first.
find_program(SYSTEM_PYTHON /usr/bin/python3 REQUIRED)
# The one root of the project's Python: the Wine toolkit (tools/winekit) and
# the product's facts (tools/product_facts.py).
set(PYTHON_ROOT "PYTHONPATH=${CMAKE_SOURCE_DIR}/tools")

add_test(NAME pe_uninstaller_exe
    COMMAND ${SYSTEM_PYTHON} ${CMAKE_SOURCE_DIR}/tests/pe/check_uninstaller_exe.py ${UNINSTALLER_EXE_32})
set_tests_properties(pe_uninstaller_exe PROPERTIES LABELS "pe" ENVIRONMENT "${PYTHON_ROOT}")

# tools/sign.sh on copies of the 32-bit file, with a throwaway certificate
# authority: the signature holds, adds only the certificate table, and two
# signings give the same bytes.
add_test(NAME pe_signed_uninstaller
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/pe/check_signed_uninstaller.sh ${UNINSTALLER_EXE_32})
set_tests_properties(pe_signed_uninstaller PROPERTIES LABELS "pe" ENVIRONMENT "${PYTHON_ROOT}")

add_test(NAME reproducible_build
    COMMAND nice -n 10 bash ${CMAKE_SOURCE_DIR}/tests/repro/check_reproducible_build.sh ${CMAKE_SOURCE_DIR})
set_tests_properties(reproducible_build PROPERTIES LABELS "pe" TIMEOUT 600 COST 20)

# The end-to-end suite: the 64-bit twin under Wine, its dialogs shown under
# Xvfb and driven with real keys and clicks.
add_test(NAME wine_end_to_end
    COMMAND ${SYSTEM_PYTHON} -m unittest discover -s ${CMAKE_SOURCE_DIR}/tests/wine -t ${CMAKE_SOURCE_DIR}/tests/wine -v)
set_tests_properties(wine_end_to_end PROPERTIES
    LABELS "wine" TIMEOUT 2400 COST 170
    ENVIRONMENT "${PYTHON_ROOT};UNINSTALLER_EXE=${UNINSTALLER_EXE_64}")

# The contract suite on the real calls: its Windows build in a throwaway Wine
# prefix from the Wine toolkit. (The same cases run on the model among the
# unit tests.)
add_test(NAME contract_wine
    COMMAND ${SYSTEM_PYTHON} ${CMAKE_SOURCE_DIR}/tests/contract/run_under_wine.py ${CONTRACT_TESTS_EXE})
set_tests_properties(contract_wine PROPERTIES
    LABELS "wine" TIMEOUT 600 COST 25 ENVIRONMENT "${PYTHON_ROOT}")

# The shipped 32-bit file itself on every road, under a 32-bit Wine whose
# processes qemu emulates (this machine runs no 32-bit code): the twin's
# tests, one a road, run on the product file. tools/setup-i386-wine.sh (run by
# tools/build.sh) sets the emulated Wine up; without it every one of these tests fails.
add_test(NAME wine_product_i686
    COMMAND ${SYSTEM_PYTHON} ${CMAKE_SOURCE_DIR}/tests/wine/product_roads.py -v)
set_tests_properties(wine_product_i686 PROPERTIES
    LABELS "wine" TIMEOUT 2400 COST 300
    ENVIRONMENT "${PYTHON_ROOT};WINE_TARGET=i686;UNINSTALLER_EXE=${UNINSTALLER_EXE_32}")

# The unit tests and the generated machines again under ASan and UBSan.
add_test(NAME unit_tests_sanitized
    COMMAND nice -n 10 ${CMAKE_SOURCE_DIR}/tools/sanitized_tests.sh ${CMAKE_BINARY_DIR}/sanitized)
set_tests_properties(unit_tests_sanitized PROPERTIES LABELS "sanitizers" TIMEOUT 1800 COST 100)

# libFuzzer on the readers of outside input, a minute each (of the clock,
# side by side), on what processor time the other entries leave.
add_test(NAME fuzzing
    COMMAND nice -n 19 ${CMAKE_SOURCE_DIR}/tools/fuzz.sh ${CMAKE_BINARY_DIR}/fuzz 60)
set_tests_properties(fuzzing PROPERTIES LABELS "fuzz" TIMEOUT 1200 COST 190)

# clang-tidy and cppcheck on the program's sources: no findings.
add_test(NAME static_analysis
    COMMAND nice -n 10 ${CMAKE_SOURCE_DIR}/tools/analyze.sh ${CMAKE_BINARY_DIR}/analyze)
set_tests_properties(static_analysis PROPERTIES LABELS "analysis" TIMEOUT 1200 COST 20)
