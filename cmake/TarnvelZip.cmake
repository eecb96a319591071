# The portable Windows program: the install tree (the program, Qt's DLLs and
# plugins, the MinGW runtime) in one zip, unpacked into a folder of its own.
set(CPACK_PACKAGE_NAME tarnvel-kestro)
set(CPACK_PACKAGE_VENDOR "Corvalen")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME tarnvel-kestro-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
