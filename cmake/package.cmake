# `cpack` (make package) packs what cmake/install.cmake installs: on Linux a
# Debian package of the library, its header and the classic command; from
# the Windows builds a zip of the DLL, its import library, classic.def, the
# header and classic.exe.
set(CPACK_PACKAGE_NAME classic)
set(CPACK_PACKAGE_VENDOR "classic developers")
set(CPACK_PACKAGE_CONTACT "classic developers <classic@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "file-based stores of the named items of a CAD host system")
set(CPACK_PACKAGE_DESCRIPTION
  "classic keeps the named items of a CAD host system in file-based stores that many programs share at once. The package holds the shared library libclassic, its C header, a CMake package and a pkg-config file, and the classic command that sets up, examines and fills stores.")
set(CPACK_VERBATIM_VARIABLES ON)
# Programs and libraries go into the packages without their debug sections.
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  # The C and C++ runtime the library and the command need, as dpkg-shlibdeps
  # reads them off the binaries.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)

# The installed tree and the Debian package, as users take them in (native
# builds; a sanitized library cannot be loaded by plain programs).  Both
# install the build tree: they take turns.
if(CLASSIC_TESTS AND NOT CMAKE_CROSSCOMPILING AND NOT CLASSIC_SANITIZE)
  add_test(NAME install.consumers
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/install/consumers.sh ${CMAKE_BINARY_DIR}
            ${CMAKE_BINARY_DIR}/test-install ${CMAKE_SOURCE_DIR} ${CMAKE_INSTALL_LIBDIR}
            ${PROJECT_VERSION_MAJOR})
  add_test(NAME install.deb
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/install/deb.sh ${CMAKE_BINARY_DIR}
            ${CMAKE_BINARY_DIR}/test-deb ${PROJECT_VERSION})
  set_tests_properties(install.consumers install.deb PROPERTIES RESOURCE_LOCK classic_install)
endif()
