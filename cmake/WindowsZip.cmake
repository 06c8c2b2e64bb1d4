# The Windows packages, both made from one staged folder:
#   build-win/vantrel-<version>-windows-x86_64.zip   (target windows_zip, in ALL)
#   build-win/vantrel-downloader-<version>-x64.msi   (target windows_msi, in ALL
#       when the window is built and wixl is installed)
#
# The stage holds the programs and DLLs without their debug information and a
# short README. With the window come the Qt DLLs, the qwindows platform plugin and
# the style plugin, which Qt finds beside the program, and the MinGW runtime
# DLLs that the Qt DLLs were linked against (the programs themselves link it
# statically). scripts/build-windows.sh checks that every DLL a staged file
# imports is staged or is part of Windows.

set(_stage ${CMAKE_BINARY_DIR}/windows-stage)
set(_staged ${CMAKE_BINARY_DIR}/windows-stage.done)
set(_zip ${CMAKE_BINARY_DIR}/vantrel-${PROJECT_VERSION}-windows-x86_64.zip)
set(_readme ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt)

set(_commands
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${_stage}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_stage}
  COMMAND ${CMAKE_COMMAND} -E copy ${_readme} ${_stage})
set(_depends ${_readme})
set(_entries README.txt)
foreach(_t vantrel-downloader vantrel-cli vantrel-station)
  if(TARGET ${_t})
    list(APPEND _commands COMMAND ${CMAKE_STRIP} --strip-debug -o ${_stage}/${_t}.exe $<TARGET_FILE:${_t}>)
    list(APPEND _depends ${_t})
    list(APPEND _entries ${_t}.exe)
  endif()
endforeach()

if(TARGET vantrel-downloader)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  foreach(_m Core Gui Widgets)
    list(APPEND _commands COMMAND ${CMAKE_STRIP} --strip-debug -o ${_stage}/Qt6${_m}.dll $<TARGET_FILE:Qt6::${_m}>)
    list(APPEND _entries Qt6${_m}.dll)
  endforeach()
  list(APPEND _commands
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_stage}/platforms ${_stage}/styles
    COMMAND ${CMAKE_STRIP} --strip-debug -o ${_stage}/platforms/qwindows.dll $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>
    COMMAND ${CMAKE_STRIP} --strip-debug -o ${_stage}/styles/qwindowsvistastyle.dll
            $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin>)
  list(APPEND _entries platforms styles)
  foreach(_dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_dll} OUTPUT_VARIABLE _path
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${_path}" OR NOT EXISTS "${_path}")
      message(FATAL_ERROR "${_dll}, which the Qt DLLs need, was not found by ${CMAKE_CXX_COMPILER}")
    endif()
    list(APPEND _commands COMMAND ${CMAKE_STRIP} --strip-debug -o ${_stage}/${_dll} ${_path})
    list(APPEND _depends ${_path})
    list(APPEND _entries ${_dll})
  endforeach()
endif()

add_custom_command(OUTPUT ${_staged}
  ${_commands}
  COMMAND ${CMAKE_COMMAND} -E touch ${_staged}
  DEPENDS ${_depends}
  COMMENT "Staging the Windows programs in ${_stage}"
  VERBATIM)

add_custom_command(OUTPUT ${_zip}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${_zip}
  COMMAND ${CMAKE_COMMAND} -E chdir ${_stage} ${CMAKE_COMMAND} -E tar cf ${_zip} --format=zip ${_entries}
  DEPENDS ${_staged}
  COMMENT "Writing ${_zip}"
  VERBATIM)
add_custom_target(windows_zip ALL DEPENDS ${_zip})

find_program(VANTREL_WIXL wixl)
if(TARGET vantrel-downloader AND VANTREL_WIXL)
  set(_wxs ${PROJECT_SOURCE_DIR}/packaging/windows/vantrel-downloader.wxs)
  set(_msi ${CMAKE_BINARY_DIR}/vantrel-downloader-${PROJECT_VERSION}-x64.msi)
  add_custom_command(OUTPUT ${_msi}
    # wixl takes the files' sources relative to where it runs.
    COMMAND ${CMAKE_COMMAND} -E chdir ${_stage} ${VANTREL_WIXL} -a x64 -D Version=${PROJECT_VERSION} -D Stage=.
            -o ${_msi} ${_wxs}
    DEPENDS ${_staged} ${_wxs}
    COMMENT "Writing ${_msi}"
    VERBATIM)
  add_custom_target(windows_msi ALL DEPENDS ${_msi})
elseif(TARGET vantrel-downloader)
  message(STATUS "wixl not found: no Windows installer (Debian: apt-get install wixl)")
endif()
