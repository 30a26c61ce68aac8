# Uninstall.exe for one mingw toolchain (32-bit product or 64-bit twin).
# No C or C++ runtime: the program has its own entry point and imports only
# from KERNEL32, USER32, ADVAPI32 and SHELL32.
enable_language(RC)

add_executable(Uninstall WIN32
    ${LOGIC_SOURCES}
    platform/win32_platform.cpp
    platform/win32_entry.cpp
    platform/freestanding.cpp
    ui/uninstall.rc
)
target_include_directories(Uninstall PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(Uninstall PRIVATE
    QUILLMERE_FEEDBACK_HOST="${QUILLMERE_FEEDBACK_HOST}"
    WIN32_LEAN_AND_MEAN
)
target_compile_options(Uninstall PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${WARNINGS} -Os -ffreestanding -fno-exceptions -fno-rtti
    -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector
    -fno-tree-loop-distribute-patterns -ffunction-sections -fdata-sections
    -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>
)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(ENTRY_SYMBOL _ProgramEntry)
else()
    set(ENTRY_SYMBOL ProgramEntry)
endif()

target_link_options(Uninstall PRIVATE
    -nostdlib -nostartfiles -s
    -Wl,--entry,${ENTRY_SYMBOL}
    -Wl,--subsystem,windows
    -Wl,--gc-sections
    -Wl,--no-insert-timestamp
    -Wl,--build-id=none
)
target_link_libraries(Uninstall PRIVATE kernel32 user32 advapi32 shell32 gcc)
set_target_properties(Uninstall PROPERTIES OUTPUT_NAME Uninstall SUFFIX .exe)
# Resource script: no time stamp, no manifest.
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_SOURCE_DIR}")
