# The NFS tests (tests/nfs): two workstations on one NFSv4 share, served by
# nfs-ganesha on 127.0.0.1 and mounted twice through classic_nfs_fuse, a FUSE
# client of the project's own. Included from the tests' part of
# CMakeLists.txt, after CLASSIC_TEST_SOURCES is globbed and before the test
# program is made.
#
# The client has a main of its own and is never part of the test program.
# It is built natively on Linux when libnfs and fuse3 are found; without it
# the NFS tests skip and say why. The Windows builds leave the NFS tests out.
list(FILTER CLASSIC_TEST_SOURCES EXCLUDE REGEX "/tests/nfs/nfs_fuse\\.cpp$")
if(WIN32 OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  list(FILTER CLASSIC_TEST_SOURCES EXCLUDE REGEX "/tests/nfs/")
  return()
endif()

find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(CLASSIC_LIBNFS QUIET IMPORTED_TARGET libnfs)
  pkg_check_modules(CLASSIC_FUSE3 QUIET IMPORTED_TARGET fuse3)
endif()
if(NOT CLASSIC_LIBNFS_FOUND OR NOT CLASSIC_FUSE3_FOUND)
  message(STATUS "libnfs or fuse3 not found: the NFS tests will skip (make deps installs them)")
  return()
endif()

find_package(Threads REQUIRED)
add_executable(classic_nfs_fuse tests/nfs/nfs_fuse.cpp)
target_link_libraries(classic_nfs_fuse PRIVATE
  PkgConfig::CLASSIC_LIBNFS PkgConfig::CLASSIC_FUSE3 Threads::Threads)
classic_warnings(classic_nfs_fuse)
# A test tool in a process of its own: never built with the sanitizers.
if(CLASSIC_SANITIZE)
  target_compile_options(classic_nfs_fuse PRIVATE -fno-sanitize=all)
  target_link_options(classic_nfs_fuse PRIVATE -fno-sanitize=all)
endif()
set_property(SOURCE tests/nfs/nfs_env.cpp APPEND PROPERTY COMPILE_DEFINITIONS
  "CLASSIC_NFS_FUSE=\"$<TARGET_FILE:classic_nfs_fuse>\"")
