# Host network services (adapter settings, address texts, ICMP echo, the
# free-address walk) as a static library of plain C++, so that the program
# and the tests link the same code without the toolkit. Included from the
# program's CMakeLists.txt and, when that is not built, from the tests.
include_guard(GLOBAL)

if(NOT TARGET host_network)
  set(_host_network_dir ${CMAKE_CURRENT_LIST_DIR})
  add_library(host_network STATIC
    ${_host_network_dir}/HostNetwork.h
    ${_host_network_dir}/echo_pacing.h
    ${_host_network_dir}/NeighbourCheck.h
    ${_host_network_dir}/host_adapters.cpp
    ${_host_network_dir}/host_network_walk.cpp
    ${_host_network_dir}/neighbour_check.cpp)
  # The adapter list is the library's own, linked in here too.
  target_link_libraries(host_network PRIVATE zarfel_adapters zarfel_client)
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    target_sources(host_network PRIVATE
      ${_host_network_dir}/host_network_linux.cpp
      ${_host_network_dir}/echo_prober_linux.cpp
      ${_host_network_dir}/neighbours_linux.cpp
      ${_host_network_dir}/datagram_prober_linux.cpp)
  elseif(WIN32)
    # IP Helper for the prober's echo requests, Winsock for address texts.
    # PingAddress loads ICMP.DLL by name at run time and links nothing of it.
    target_sources(host_network PRIVATE
      ${_host_network_dir}/host_network_win32.cpp
      ${_host_network_dir}/echo_prober_win32.cpp
      ${_host_network_dir}/neighbours_win32.cpp)
    target_link_libraries(host_network PRIVATE iphlpapi ws2_32)
  endif()
  # Users write #include "platform/HostNetwork.h", as for the other
  # platform headers.
  target_include_directories(host_network PUBLIC ${_host_network_dir}/..)
  target_compile_features(host_network PUBLIC cxx_std_20)
  unset(_host_network_dir)
endif()
