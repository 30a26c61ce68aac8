# The twin's mingw toolchain in its posix-threads flavour (the same compiler,
# with std::thread and std::mutex), for the contract suite's Windows build.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64.cmake)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
