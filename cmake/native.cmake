# The native Linux build: the program's logic on the in-memory platform, with
# the unit tests. Unless switched off, the same configuration also builds the
# two Windows executables (each with its own toolchain, as a sub-build) and
# registers the tests that check or run them.
enable_testing()
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

option(UNINSTALLER_WINDOWS_BUILDS "Also build Uninstall.exe (32-bit) and its 64-bit twin" ON)
option(UNINSTALLER_FUZZ "Build the libFuzzer targets (needs clang++)" OFF)
include(cmake/sanitizers.cmake)

add_library(uninstaller_logic STATIC ${LOGIC_SOURCES})
target_include_directories(uninstaller_logic PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(uninstaller_logic PUBLIC QUILLMERE_FEEDBACK_HOST="${QUILLMERE_FEEDBACK_HOST}")
target_compile_options(uninstaller_logic PRIVATE ${WARNINGS} -fno-exceptions -fno-rtti)

# Failure injection as a layer over any PlatformOps table (test machinery).
add_library(fault_injection STATIC platform/fault_injection.cpp)
target_include_directories(fault_injection PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(fault_injection PRIVATE ${WARNINGS})

# The in-memory model of Windows, one room per area of the system.
add_library(memory_platform STATIC
    platform/memory/dialogs.cpp
    platform/memory/dump.cpp
    platform/memory/files.cpp
    platform/memory/machine.cpp
    platform/memory/objects.cpp
    platform/memory/paths.cpp
    platform/memory/processes.cpp
    platform/memory/registry.cpp
    platform/memory/seeding.cpp)
target_include_directories(memory_platform PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(memory_platform PRIVATE ${WARNINGS})
target_link_libraries(memory_platform PUBLIC uninstaller_logic fault_injection Threads::Threads)

add_subdirectory(tests)
if(UNINSTALLER_FUZZ)
    add_subdirectory(tests/fuzz)
endif()

if(UNINSTALLER_WINDOWS_BUILDS)
    include(ExternalProject)
    foreach(arch i686 x86_64)
        ExternalProject_Add(uninstall_${arch}
            SOURCE_DIR ${CMAKE_SOURCE_DIR}
            BINARY_DIR ${CMAKE_BINARY_DIR}/${arch}
            CMAKE_ARGS
                -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-${arch}.cmake
                -DCMAKE_BUILD_TYPE=Release
                -DQUILLMERE_FEEDBACK_HOST=${QUILLMERE_FEEDBACK_HOST}
            BUILD_ALWAYS ON
            INSTALL_COMMAND ""
            USES_TERMINAL_BUILD ON)
    endforeach()
    # The contract suite as a Windows program, run under Wine by a test.
    ExternalProject_Add(contract_windows
        SOURCE_DIR ${CMAKE_SOURCE_DIR}/tests/contract
        BINARY_DIR ${CMAKE_BINARY_DIR}/contract-windows
        CMAKE_ARGS
            -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-x86_64-posix.cmake
            -DCMAKE_BUILD_TYPE=Release
        BUILD_ALWAYS ON
        INSTALL_COMMAND ""
        USES_TERMINAL_BUILD ON)
    set(CONTRACT_TESTS_EXE ${CMAKE_BINARY_DIR}/contract-windows/contract_tests.exe)
    set(UNINSTALLER_EXE_32 ${CMAKE_BINARY_DIR}/i686/Uninstall.exe)
    set(UNINSTALLER_EXE_64 ${CMAKE_BINARY_DIR}/x86_64/Uninstall.exe)
    include(cmake/system_tests.cmake)
endif()
