# Help and About: opening a document with the desktop's viewer (through Qt's
# process and path services on Linux, the shell alone on Windows), the JPEG
# decoder, the About picture built into the program and the version header.
# Defines the static library search_helpabout; included by app/CMakeLists.txt
# (after search_gui, which it then links) and, when the program is not built,
# by the tests.
#
# Run as a script (cmake -DEMBED_INPUT=... -DEMBED_OUTPUT=... -P HelpAbout.cmake)
# it writes a C++ source holding a file's bytes: the build does that for the
# picture.
if(CMAKE_SCRIPT_MODE_FILE AND DEFINED EMBED_INPUT)
  file(READ ${EMBED_INPUT} _hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
  # Sixteen bytes a line keeps the generated file readable in a debugger.
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " _bytes "${_bytes}")
  file(WRITE ${EMBED_OUTPUT}
    "// Generated from ${EMBED_INPUT} by HelpAbout.cmake; do not edit.\n"
    "#include \"AboutPicture.h\"\n\n"
    "namespace {\nconst unsigned char kAboutPicture[] = {\n    ${_bytes}\n};\n}\n\n"
    "std::span<const unsigned char> aboutPictureJpeg() { return kAboutPicture; }\n")
  return()
endif()

include_guard(GLOBAL)

find_package(JPEG REQUIRED)

set(_helpabout_dir ${CMAKE_CURRENT_LIST_DIR})
set(_helpabout_picture ${_helpabout_dir}/resources/about.jpg)
set(_helpabout_picture_cpp ${CMAKE_BINARY_DIR}/helpabout_generated/about_picture.cpp)

add_custom_command(
  OUTPUT ${_helpabout_picture_cpp}
  COMMAND ${CMAKE_COMMAND} -DEMBED_INPUT=${_helpabout_picture}
          -DEMBED_OUTPUT=${_helpabout_picture_cpp} -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS ${_helpabout_picture} ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Building the About picture into the program"
  VERBATIM)

add_library(search_helpabout STATIC
  ${_helpabout_dir}/platform/OpenDocument.h
  ${_helpabout_dir}/JpegDecoder.h ${_helpabout_dir}/JpegDecoder.cpp
  ${_helpabout_dir}/AboutPicture.h ${_helpabout_picture_cpp})
if(WIN32)
  target_sources(search_helpabout PRIVATE ${_helpabout_dir}/platform/open_document_win32.cpp)
  target_link_libraries(search_helpabout PRIVATE shell32 ole32)
else()
  find_package(Qt6 REQUIRED COMPONENTS Core)
  target_sources(search_helpabout PRIVATE ${_helpabout_dir}/platform/open_document_linux.cpp)
  target_link_libraries(search_helpabout PRIVATE Qt6::Core)
endif()
# "Version.h": the version the caption and the About box show, from project().
configure_file(${_helpabout_dir}/Version.h.in ${CMAKE_BINARY_DIR}/helpabout_generated/Version.h @ONLY)
target_include_directories(search_helpabout PUBLIC ${_helpabout_dir} ${CMAKE_BINARY_DIR}/helpabout_generated)
target_link_libraries(search_helpabout PRIVATE JPEG::JPEG)

# The program's windows use all of it; included after search_gui is defined,
# this one include is all the program's build needs.
if(TARGET search_gui)
  target_link_libraries(search_gui PUBLIC search_helpabout)
endif()
