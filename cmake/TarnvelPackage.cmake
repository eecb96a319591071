# The Debian package: cpack -G DEB over the install rules (package.sh builds
# and packs).
set(CPACK_PACKAGE_NAME tarnvel-kestro)
set(CPACK_PACKAGE_VENDOR "Corvalen")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keeps a destination folder an exact mirror of a source folder")
# Lines of at most 80 characters, as package managers show them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Tarnvel KESTRO keeps a destination folder an exact copy of a source folder\n"
  "of media files: clips, audio, stills and their XML sidecars. Its window shows\n"
  "the two folders side by side; the mirror runs on request, or on its own\n"
  "whenever a file lands in the source folder, while a small window shows how\n"
  "far the copy has got. A mirror that could not finish says so and names the\n"
  "files that failed.")
set(TARNVEL_PACKAGE_MAINTAINER "Corvalen <tarnvel@corvalen.com>"
    CACHE STRING "Maintainer of the Debian package, as \"Name <address>\"")
set(CPACK_PACKAGE_CONTACT "${TARNVEL_PACKAGE_MAINTAINER}")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
# Installed under /usr whatever prefix the build has, with DESTDIR, so that
# install code sees the real prefix (the desktop entry names the program by
# its installed path).
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the two programs link (Qt 6 with its version), found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The windows' captions are sized for Tahoma and Arial, which the program
# replaces with the metric-compatible Liberation Sans.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-liberation)

# Installs SOURCE compressed, as SOURCE's name with .gz, into DESTINATION.
find_program(TARNVEL_GZIP gzip REQUIRED)
function(tarnvel_install_gzipped source destination)
  get_filename_component(name ${source} NAME)
  set(packed ${PROJECT_BINARY_DIR}/gzipped/${name}.gz)
  add_custom_command(
    OUTPUT ${packed}
    # No name or time in the header: the same text gives the same bytes.
    COMMAND ${TARNVEL_GZIP} -9nc ${source} > ${packed}
    DEPENDS ${source}
    VERBATIM)
  add_custom_target(tarnvel_gzip_${name} ALL DEPENDS ${packed})
  install(FILES ${packed} DESTINATION ${destination})
endfunction()

# The documents every Debian package carries: copyright, and a changelog
# whose one entry is this version, dated TARNVEL_RELEASE_DATE.
set(tarnvel_doc share/doc/${CPACK_PACKAGE_NAME})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright DESTINATION ${tarnvel_doc})

# The changelog's date in the mail format it asks for, computed from the
# release's calendar date (days since 1970, then string(TIMESTAMP)).
string(REGEX MATCH "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$" tarnvel_date "${TARNVEL_RELEASE_DATE}")
if(NOT tarnvel_date)
  message(FATAL_ERROR "TARNVEL_RELEASE_DATE is not a YYYY-MM-DD date: '${TARNVEL_RELEASE_DATE}'")
endif()
math(EXPR _y "${CMAKE_MATCH_1}")
math(EXPR _m "1${CMAKE_MATCH_2} - 100")
math(EXPR _d "1${CMAKE_MATCH_3} - 100")
# Years from March, so that the leap day ends the year.
if(_m LESS_EQUAL 2)
  math(EXPR _y "${_y} - 1")
  math(EXPR _m "${_m} + 9")
else()
  math(EXPR _m "${_m} - 3")
endif()
math(EXPR _epoch "(${_y} * 365 + ${_y} / 4 - ${_y} / 100 + ${_y} / 400 + (153 * ${_m} + 2) / 5 + ${_d} - 1 - 719468) * 86400")
set(_saved "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${_epoch})
string(TIMESTAMP TARNVEL_RELEASE_DATE_MAIL "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${_saved}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)

tarnvel_install_gzipped(${PROJECT_BINARY_DIR}/debian/changelog ${tarnvel_doc})
tarnvel_install_gzipped(${PROJECT_SOURCE_DIR}/app/tarnvel.1 share/man/man1)

include(CPack)
