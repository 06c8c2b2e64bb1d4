# Installation and the Debian package.
#
#   cmake --install build [--prefix /usr/local]
#   (cd build && cpack -G DEB)
#
# Installs the window, the command line, the station and the handset
# simulator, the desktop entry with its icon and AppStream data, a man page
# for each program, bash completion, the copyright and changelog where Debian
# keeps them, and the udev rule that keeps ModemManager away from handsets (as
# a file to copy: it is not activated, because on a machine with a real USB
# modem it needs narrowing first).

set(_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(VANTREL_HOMEPAGE "https://vantrel.invalid/downloader")
set(_docdir ${CMAKE_INSTALL_DATADIR}/doc/vantrel-downloader)

# packaging/changelog holds the releases; its top entry names the package's
# version and the release date that software centres show, so that the two
# cannot disagree with each other or with the project's version.
file(STRINGS ${_pkg}/changelog _changelog)
list(GET _changelog 0 _top)
if(NOT _top MATCHES "^vantrel-downloader \\((${PROJECT_VERSION})-([0-9]+)\\) ")
  message(FATAL_ERROR "packaging/changelog: the top entry is not version ${PROJECT_VERSION}-N: ${_top}")
endif()
set(VANTREL_DEB_RELEASE ${CMAKE_MATCH_2})
list(FILTER _changelog INCLUDE REGEX "^ -- .*  [A-Z][a-z][a-z], ")
list(GET _changelog 0 _trailer)
string(REGEX MATCH ", ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) " _ "${_trailer}")
set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND _months "${CMAKE_MATCH_2}" _month)
math(EXPR _month "${_month} + 1" OUTPUT_FORMAT DECIMAL)
if(_month LESS 10)
  set(_month 0${_month})
endif()
set(VANTREL_RELEASE_DATE "${CMAKE_MATCH_3}-${_month}-${CMAKE_MATCH_1}")

foreach(_t vantrel-downloader vantrel-cli vantrel-sim)
  if(TARGET ${_t})
    install(TARGETS ${_t} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

if(TARGET vantrel-downloader)
  install(FILES ${_pkg}/vantrel-downloader.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # The launcher shows the same icon as the window's title bar.
  install(FILES ${PROJECT_SOURCE_DIR}/console/resources/vantrel.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps RENAME vantrel-downloader.png)
endif()

# Man pages, compressed as Debian wants them.
set(_manpages ${PROJECT_SOURCE_DIR}/cli/vantrel-cli.1 ${PROJECT_SOURCE_DIR}/station/vantrel-station.1
    ${PROJECT_SOURCE_DIR}/sim/vantrel-sim.1)
if(TARGET vantrel-downloader)
  list(APPEND _manpages ${PROJECT_SOURCE_DIR}/console/vantrel-downloader.1)
endif()
set(_gz_pages)
foreach(_m ${_manpages} ${_pkg}/changelog)
  get_filename_component(_name ${_m} NAME)
  set(_gz ${CMAKE_BINARY_DIR}/man/${_name}.gz)
  add_custom_command(OUTPUT ${_gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${_m} > ${_gz}
    DEPENDS ${_m}
    COMMENT "Compressing ${_name}")
  list(APPEND _gz_pages ${_gz})
endforeach()
list(POP_BACK _gz_pages _gz_changelog)
add_custom_target(vantrel_manpages ALL DEPENDS ${_gz_pages} ${_gz_changelog})
install(FILES ${_gz_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_pkg}/copyright DESTINATION ${_docdir})
install(FILES ${_gz_changelog} DESTINATION ${_docdir} RENAME changelog.Debian.gz)
install(FILES ${_pkg}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME vantrel-downloader)

# bash-completion loads a command's completion from a file of its name.
foreach(_c vantrel-cli vantrel-station)
  install(FILES ${_pkg}/vantrel.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME ${_c})
endforeach()

configure_file(${_pkg}/vantrel-downloader.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/invalid.vantrel.downloader.metainfo.xml @ONLY)
if(TARGET vantrel-downloader)
  install(FILES ${CMAKE_BINARY_DIR}/invalid.vantrel.downloader.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

install(FILES ${_pkg}/70-vantrel-modemmanager.rules DESTINATION ${CMAKE_INSTALL_DATADIR}/vantrel-downloader/udev)

# Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel-downloader)
set(CPACK_PACKAGE_VENDOR "VANTREL")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VANTREL_DEB_RELEASE})
set(CPACK_PACKAGE_CONTACT "VANTREL Dev <dev@vantrel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Flashing tool for VANTREL handsets (window, command line, simulator)")
# Lines of the long description stay within 80 columns, as Debian's tools
# show them unwrapped.
set(CPACK_PACKAGE_DESCRIPTION [=[
Connects a handset over a UART or USB serial cable, catches its boot ROM,
uploads the flash loaders and writes images into NAND or NOR flash; erases,
formats and dumps flash, and reads written flash back to verify it.
.
The package holds the Qt window (vantrel-downloader), the vantrel-cli command
line for scripted production lines, vantrel-station, which runs vantrel-cli
on many handsets at once, and vantrel-sim, a handset simulator for trying the
tool without a handset.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VANTREL_HOMEPAGE})
find_program(_shlibdeps dpkg-shlibdeps)
if(_shlibdeps)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libqt6widgets6, libudev1")
endif()
set(CPACK_STRIP_FILES ON)
# Folders as Debian wants them whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
