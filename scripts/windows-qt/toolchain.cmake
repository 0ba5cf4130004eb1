# The project's mingw-w64 toolchain, plus the static compiler runtime for
# every Qt DLL and plugin: Qt refuses its own static_runtime option in a
# shared build, and a Qt that needs libstdc++-6.dll or libwinpthread-1.dll
# beside it would have to ship them.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/mingw-w64-x86_64.cmake)
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
