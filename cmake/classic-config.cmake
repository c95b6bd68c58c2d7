# find_package(classic) reads this file from the installed tree: it gives the
# imported target classic::classic (the shared library and its header).
include("${CMAKE_CURRENT_LIST_DIR}/classic-targets.cmake")
