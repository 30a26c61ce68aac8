# -DUNINSTALLER_SANITIZE=ON: the native build (logic, in-memory platform, unit
# tests) under AddressSanitizer and UndefinedBehaviorSanitizer. A finding
# aborts the test that met it instead of printing and running on, so CTest
# reports it as a failure. Include before the native targets are created.
option(UNINSTALLER_SANITIZE "Build the native logic and tests with ASan and UBSan" OFF)

if(UNINSTALLER_SANITIZE)
    if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
        message(FATAL_ERROR "UNINSTALLER_SANITIZE is for the native build only")
    endif()
    set(UNINSTALLER_SANITIZER_FLAGS
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_compile_options(${UNINSTALLER_SANITIZER_FLAGS})
    add_link_options(${UNINSTALLER_SANITIZER_FLAGS})
endif()
