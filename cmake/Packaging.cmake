# Installation and the Debian package.
#
#   cmake --install build [--prefix /usr/local]
#   (cd build && cpack -G DEB)
#
# Installs the window, the command line and the handset simulator, the
# desktop entry with its icon, the man page, and the udev rule that keeps
# ModemManager away from handsets (as a file to copy: it is not activated,
# because on a machine with a real USB modem it needs narrowing first).

set(_pkg ${PROJECT_SOURCE_DIR}/packaging)

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
file(GLOB _manpages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/cli/*.1 ${PROJECT_SOURCE_DIR}/sim/*.1
     ${PROJECT_SOURCE_DIR}/console/*.1)
set(_gz_pages)
foreach(_m ${_manpages})
  get_filename_component(_name ${_m} NAME)
  set(_gz ${CMAKE_BINARY_DIR}/man/${_name}.gz)
  add_custom_command(OUTPUT ${_gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${_m} > ${_gz}
    DEPENDS ${_m}
    COMMENT "Compressing the man page ${_name}")
  list(APPEND _gz_pages ${_gz})
endforeach()
if(_gz_pages)
  add_custom_target(vantrel_manpages ALL DEPENDS ${_gz_pages})
  install(FILES ${_gz_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

install(FILES ${_pkg}/70-vantrel-modemmanager.rules DESTINATION ${CMAKE_INSTALL_DATADIR}/vantrel-downloader/udev)

# Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel-downloader)
set(CPACK_PACKAGE_VENDOR "VANTREL")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "VANTREL Dev <dev@vantrel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Flashing tool for VANTREL handsets (window, command line, simulator)")
set(CPACK_PACKAGE_DESCRIPTION
    "Connects a handset over a UART or USB serial cable, catches its boot ROM, uploads the flash loaders and writes images into NAND or NOR flash; erases, formats and dumps flash. Includes the Qt window, the vantrel-cli command line for scripted production lines, and a handset simulator.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vantrel.invalid/downloader")
find_program(_shlibdeps dpkg-shlibdeps)
if(_shlibdeps)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libqt6widgets6, libudev1")
endif()
set(CPACK_STRIP_FILES ON)
include(CPack)
