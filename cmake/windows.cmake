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

# The loader's safety flags, stated rather than left to the linker's
# defaults: ASLR (--dynamicbase, with the relocations it needs), DEP
# (--nxcompat), and terminal-server aware (--tsaware: no per-session
# compatibility shims). The 32-bit file also says it has no structured
# exception handlers (--no-seh): it has none, and without that flag or a
# table of safe handlers Windows would take any address in the file that an
# overwritten handler record on the stack points to. That flag belongs to
# x86's handlers registered on the stack; an x86-64 image names its
# handlers in its own unwind tables, so the twin leaves it out and takes the
# 64-bit address space's full entropy for ASLR instead.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(ENTRY_SYMBOL _ProgramEntry)
    set(LOADER_FLAGS -Wl,--no-seh)
else()
    set(ENTRY_SYMBOL ProgramEntry)
    set(LOADER_FLAGS -Wl,--high-entropy-va)
endif()

target_link_options(Uninstall PRIVATE
    -nostdlib -nostartfiles -s
    -Wl,--entry,${ENTRY_SYMBOL}
    -Wl,--subsystem,windows
    -Wl,--gc-sections
    -Wl,--no-insert-timestamp
    -Wl,--build-id=none
    -Wl,--dynamicbase
    -Wl,--nxcompat
    -Wl,--tsaware
    ${LOADER_FLAGS}
)
target_link_libraries(Uninstall PRIVATE kernel32 user32 advapi32 shell32 gcc)
set_target_properties(Uninstall PROPERTIES OUTPUT_NAME Uninstall SUFFIX .exe)
# Resource script: no time stamp, no manifest.
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_SOURCE_DIR}")
