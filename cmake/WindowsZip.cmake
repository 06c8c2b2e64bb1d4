# The Windows zip: the statically linked programs and a short README, to be
# unpacked anywhere and run from there.
#   build-win/vantrel-<version>-windows-x86_64.zip   (target windows_zip, in ALL)

set(_zip ${CMAKE_BINARY_DIR}/vantrel-${PROJECT_VERSION}-windows-x86_64.zip)
set(_stage ${CMAKE_BINARY_DIR}/windows-zip)
set(_files ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt)
set(_names README.txt)
foreach(_t vantrel-cli vantrel-station)
  if(TARGET ${_t})
    list(APPEND _files $<TARGET_FILE:${_t}>)
    list(APPEND _names ${_t}.exe)
  endif()
endforeach()
add_custom_command(OUTPUT ${_zip}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${_stage} ${_zip}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_stage}
  COMMAND ${CMAKE_COMMAND} -E copy ${_files} ${_stage}
  COMMAND ${CMAKE_COMMAND} -E chdir ${_stage} ${CMAKE_COMMAND} -E tar cf ${_zip} --format=zip ${_names}
  DEPENDS ${_files}
  COMMENT "Writing ${_zip}"
  VERBATIM)
add_custom_target(windows_zip ALL DEPENDS ${_zip})
