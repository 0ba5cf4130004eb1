# Configure options of libjpeg for the Windows program (cmake -C).
set(CMAKE_BUILD_TYPE Release CACHE STRING "")
# A static library linked into search.exe: one DLL fewer to ship.
set(ENABLE_SHARED OFF CACHE BOOL "")
set(ENABLE_STATIC ON CACHE BOOL "")
# The program needs the libjpeg interface only.
set(WITH_TURBOJPEG OFF CACHE BOOL "")
# The About picture is small: no assembler (nasm) needed for the SIMD code.
set(WITH_SIMD OFF CACHE BOOL "")
