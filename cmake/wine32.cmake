# The x86 Windows programs run under wine32, in a prefix made for the run
# (tests/wine/prefix.sh), where the kernel runs 32-bit x86 code.  The Makefile
# builds the x86 tests only there.
if(NOT (CMAKE_CROSSCOMPILING AND WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4))
  return()
endif()

set(CLASSIC_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "wine prefix of the test run")
set(CMAKE_CROSSCOMPILING_EMULATOR sh ${CMAKE_SOURCE_DIR}/tests/wine/run.sh ${CLASSIC_WINE_PREFIX})

# A C host program that takes classic.dll as a host system does: LoadLibrary,
# GetProcAddress by the undecorated names, the records of classic.h with
# their 4-byte list links.
if(CLASSIC_TESTS)
  add_executable(classic_host tests/host/host.c)
  target_compile_options(classic_host PRIVATE -Wall -Wextra -Werror)
  target_include_directories(classic_host PRIVATE include)
  target_link_options(classic_host PRIVATE -static-libgcc)
  add_dependencies(classic_host classic)
  add_test(NAME host.loadlibrary COMMAND classic_host)
endif()
