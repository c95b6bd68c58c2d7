# What `cmake --install` puts where.
#
# Linux: the header, libclassic.so with its SONAME links, the classic command
# and its man page, a CMake package (find_package(classic) gives
# classic::classic) and the pkg-config file classic.pc.
# Windows: what a host program needs beside its own files: classic.dll, its
# import library, classic.def, the header and classic.exe.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# libclassic.so.MAJOR.MINOR.PATCH, with the SONAME libclassic.so.MAJOR.  The
# project's version is the one in project() of CMakeLists.txt.
set_target_properties(classic PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR})

# classic --version names the version and the build type.
if(TARGET classic_cli)
  set(CLASSIC_BUILD_TYPE_NAME ${CMAKE_BUILD_TYPE})
  if(NOT CLASSIC_BUILD_TYPE_NAME)
    set(CLASSIC_BUILD_TYPE_NAME default)
  endif()
  target_compile_definitions(classic_cli PRIVATE
    CLASSIC_VERSION="${PROJECT_VERSION}" CLASSIC_BUILD_TYPE="${CLASSIC_BUILD_TYPE_NAME}")
endif()

install(FILES ${CMAKE_SOURCE_DIR}/include/classic.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

if(WIN32)
  install(TARGETS classic
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${CMAKE_SOURCE_DIR}/src/classic.def DESTINATION ${CMAKE_INSTALL_LIBDIR})
  if(TARGET classic_tool)
    install(TARGETS classic_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  return()
endif()

install(TARGETS classic EXPORT classic-targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The CMake package.  Its files find the installed tree from where they lie,
# so the tree may be moved or installed under any prefix.
set(CLASSIC_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/classic)
install(EXPORT classic-targets NAMESPACE classic:: DESTINATION ${CLASSIC_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/classic-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/classic-config.cmake
              ${CMAKE_BINARY_DIR}/classic-config-version.cmake
        DESTINATION ${CLASSIC_CMAKE_DIR})

# classic.pc names the prefix the tree is installed under, which is known
# only when installing (cmake --install --prefix, or /usr in a package): it
# is written then.
install(CODE "
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  set(libdir \"${CMAKE_INSTALL_LIBDIR}\")
  set(includedir \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(version \"${PROJECT_VERSION}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/classic.pc.in\" \"${CMAKE_BINARY_DIR}/pkgconfig/classic.pc\" @ONLY)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\"
       TYPE FILE FILES \"${CMAKE_BINARY_DIR}/pkgconfig/classic.pc\")
")

if(TARGET classic_tool)
  install(TARGETS classic_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # The man page is the command's own --help, turned into roff by help2man.
  find_program(CLASSIC_HELP2MAN help2man)
  if(CLASSIC_HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/classic.1
      COMMAND ${CLASSIC_HELP2MAN} --no-info
              --name "look after the item stores of a CAD host system"
              --output ${CMAKE_BINARY_DIR}/classic.1 $<TARGET_FILE:classic_tool>
      DEPENDS classic_tool
      COMMENT "Writing the man page classic.1 from classic --help")
    add_custom_target(classic_man ALL DEPENDS ${CMAKE_BINARY_DIR}/classic.1)
    install(FILES ${CMAKE_BINARY_DIR}/classic.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  elseif(NOT CMAKE_CROSSCOMPILING)
    message(STATUS "help2man not found: no man page for the classic command")
  endif()
endif()
