# Compiles through ccache where the machine has it, so that a machine that
# has built before (a warm one) compiles only what changed, in every build
# of the project: native, both Windows files, the contract suite, the
# sanitized, fuzzing and analysis builds. The reproducible-build check
# switches it off (-DUNINSTALLER_CCACHE=OFF): its two builds must really
# compile, or a cached object could hide a difference between them.
# Paths below the checkout are hashed relative to it (CCACHE_BASEDIR), so a
# checkout in another folder, as a clean one for CI is, finds the objects an
# earlier checkout compiled.
option(UNINSTALLER_CCACHE "Compile through ccache when it is installed" ON)
find_program(CCACHE_PROGRAM ccache)
if(UNINSTALLER_CCACHE AND CCACHE_PROGRAM)
    get_filename_component(CCACHE_BASE ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
    set(CCACHE_LAUNCHER ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${CCACHE_BASE} ${CCACHE_PROGRAM})
    set(CMAKE_C_COMPILER_LAUNCHER ${CCACHE_LAUNCHER})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE_LAUNCHER})
endif()
