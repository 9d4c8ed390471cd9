# How the project installs: every library joins the export set that find_package(nuvrixrtcm3)
# loads, and every installed program and library finds the project's own libraries relative to
# itself, so that an installed tree works in any folder and after it is moved.
#
# A new library installs with one call after its target_include_directories(... BUILD_INTERFACE):
#   nuvrix_install_library(nuvrixgnss HEADER_DIR nuvrixrtcm3/gnss HEADERS include/Gnss.h ...)
# which installs the library, its headers under include/<HEADER_DIR>, and gives consumers
# that folder as include directory. A program needs only
#   install(TARGETS prog RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A library that links another package PUBLIC (Qt6::Network, ...) also adds its
# find_dependency() to cmake/nuvrixrtcm3Config.cmake.in.

# bin/ and lib/ both look in lib/ of their own tree; the build tree keeps its own paths.
set(CMAKE_INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")

function(nuvrix_install_library target)
  cmake_parse_arguments(arg "" "HEADER_DIR" "HEADERS" ${ARGN})
  if(NOT arg_HEADER_DIR)
    set(arg_HEADER_DIR nuvrixrtcm3)
  endif()
  target_include_directories(${target} INTERFACE
      $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/${arg_HEADER_DIR}>)
  install(TARGETS ${target} EXPORT nuvrixrtcm3Targets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(arg_HEADERS)
    install(FILES ${arg_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${arg_HEADER_DIR})
  endif()
endfunction()
