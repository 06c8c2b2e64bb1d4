cmake_minimum_required(VERSION 3.25)
# Fails when a source file includes a header from a folder its layer may not
# use. Run as a script: cmake -DROOT=<source tree> -P CheckLayers.cmake
#
# The layers point one way. The handset simulator is the far end of the line
# and uses none of the host's code (only the payloads it must recognise); the
# core builds without Qt, which only the console uses.
#
# The platform layer (files, folders, the terminal) lies below everything;
# every layer but the simulator may use it.
#
# The system's own headers (POSIX, Windows) appear only in the serial link,
# the platform layer, the simulator (Linux only), the tests and the
# benchmarks; everything else reaches the system through them, so that it
# builds on both platforms unchanged.
#
# folder: the project folders its files may include from (its own included).
set(_may_include
  "platform:"
  "link:platform"
  "payloads:platform"
  "history:platform"
  "protocol:platform link payloads"
  "jobs:platform link payloads protocol history"
  "maintenance:platform link payloads protocol jobs history"
  "sim:payloads"
  "cli:platform link payloads protocol jobs maintenance history"
  "station:platform link payloads protocol jobs maintenance history cli"
  "console:platform link payloads protocol jobs maintenance history")
set(_project_folders platform link payloads history protocol jobs maintenance sim cli station console bench tests)
set(_qt_folders console)
set(_system_folders link platform sim)
list(JOIN _system_folders ", " _system_folders_text)
set(_system_header_regex
    "^(sys|linux|asm)/|^(unistd|termios|fcntl|poll|signal|pwd|grp|dirent|pthread|strings|pty|netdb|dlfcn|spawn|sched|syslog|libudev|io|direct|windows|winsock2|setupapi|cfgmgr32|devguid|initguid|shlobj|tlhelp32)\\.h$")

if(NOT ROOT)
  message(FATAL_ERROR "CheckLayers.cmake: ROOT not given")
endif()

set(_faults "")
foreach(_entry IN LISTS _may_include)
  string(REGEX MATCH "^([a-z]+):(.*)$" _ "${_entry}")
  set(_folder ${CMAKE_MATCH_1})
  separate_arguments(_allowed UNIX_COMMAND "${CMAKE_MATCH_2}")
  list(APPEND _allowed ${_folder})
  file(GLOB_RECURSE _files RELATIVE ${ROOT} ${ROOT}/${_folder}/*.h ${ROOT}/${_folder}/*.cpp)
  # The fuzzing harnesses are test programs (Linux only, like tests/).
  list(FILTER _files EXCLUDE REGEX "/fuzz/")
  foreach(_file IN LISTS _files)
    file(STRINGS ${ROOT}/${_file} _lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(_line IN LISTS _lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]*)[>\"].*$" "\\1" _header "${_line}")
      if(_header MATCHES "^([A-Za-z_]+)/")
        set(_top ${CMAKE_MATCH_1})
        if(_top IN_LIST _project_folders AND NOT _top IN_LIST _allowed)
          list(APPEND _faults "${_file}: includes ${_header} (${_folder}/ may use: ${_allowed})")
        endif()
      endif()
      string(TOLOWER "${_header}" _lower)
      if(_lower MATCHES "${_system_header_regex}" AND NOT _folder IN_LIST _system_folders)
        list(APPEND _faults "${_file}: includes system header ${_header} (only ${_system_folders_text} use the system)")
      endif()
      if(_header MATCHES "^Q[A-Za-z]*(/|$)" AND NOT _folder IN_LIST _qt_folders)
        list(APPEND _faults "${_file}: includes Qt header ${_header} (only console/ uses Qt)")
      endif()
    endforeach()
  endforeach()
endforeach()

if(_faults)
  list(JOIN _faults "\n  " _text)
  message(FATAL_ERROR "Layer check: forbidden includes:\n  ${_text}")
endif()
