# Configure options of the Windows Qt (cmake -C). Only what the program and
# its tests use: Core, Gui, Widgets, Test and the windows and offscreen
# platform plugins. Every line changes the cache folder's name, so a change
# here builds a new Qt beside the old one.

# A product build; nobody debugs Qt itself here.
set(CMAKE_BUILD_TYPE Release CACHE STRING "")
# Nothing but the libraries: examples and Qt's own tests double the build.
set(QT_BUILD_EXAMPLES OFF CACHE BOOL "")
set(QT_BUILD_TESTS OFF CACHE BOOL "")
set(QT_BUILD_BENCHMARKS OFF CACHE BOOL "")

# Modules the program does not link.
set(FEATURE_sql OFF CACHE BOOL "")
set(FEATURE_network OFF CACHE BOOL "")
set(FEATURE_dbus OFF CACHE BOOL "")
set(FEATURE_printsupport OFF CACHE BOOL "")
set(FEATURE_concurrent OFF CACHE BOOL "")
set(FEATURE_xml OFF CACHE BOOL "")
# The widgets paint in software; OpenGL and Vulkan would only add DLLs.
set(INPUT_opengl no CACHE STRING "")
set(FEATURE_vulkan OFF CACHE BOOL "")
# Debian's source has no wintab sources and mingw-w64 no wintab.h.
set(FEATURE_tabletevent OFF CACHE BOOL "")
# A second platform plugin the program never loads; off, qwindows needs the
# guard of windows-fontdatabase-direct2d.patch.
set(FEATURE_direct2d OFF CACHE BOOL "")
# The program decodes its JPEG picture itself with libjpeg.
set(FEATURE_jpeg OFF CACHE BOOL "")

# The host's pkg-config would hand Linux libraries to the Windows build.
set(FEATURE_pkg_config OFF CACHE BOOL "")
# Bundled third-party code, compiled into the DLLs: mingw-w64 has none of
# these libraries, and a host one must never be picked up.
set(FEATURE_system_zlib OFF CACHE BOOL "")
set(FEATURE_system_pcre2 OFF CACHE BOOL "")
set(FEATURE_system_png OFF CACHE BOOL "")
set(FEATURE_system_harfbuzz OFF CACHE BOOL "")
set(FEATURE_system_freetype OFF CACHE BOOL "")
set(FEATURE_system_doubleconversion OFF CACHE BOOL "")
# Debian's patch forces a shared libzstd, which the target does not have.
set(FEATURE_zstd OFF CACHE BOOL "")
# Windows' own Unicode and locale services; ICU would add 30 MB.
set(FEATURE_icu OFF CACHE BOOL "")
