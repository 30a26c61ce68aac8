# The native Linux build: the program's logic on the in-memory platform, with
# the unit tests.
enable_testing()
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

add_library(uninstaller_logic STATIC ${LOGIC_SOURCES})
target_include_directories(uninstaller_logic PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(uninstaller_logic PUBLIC QUILLMERE_FEEDBACK_HOST="${QUILLMERE_FEEDBACK_HOST}")
target_compile_options(uninstaller_logic PRIVATE ${WARNINGS} -fno-exceptions -fno-rtti)

add_library(memory_platform STATIC platform/memory_platform.cpp)
target_include_directories(memory_platform PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(memory_platform PRIVATE ${WARNINGS})
target_link_libraries(memory_platform PUBLIC uninstaller_logic Threads::Threads)

add_subdirectory(tests)
