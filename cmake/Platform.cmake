# One implementation file per platform: a folder's files ending in Posix.cpp
# build on Linux, those ending in Win32.cpp on Windows, and everything else
# on both. The code itself holds no platform conditions.
#
#   vantrel_platform_sources(<list variable>)   drops the other platform's files
function(vantrel_platform_sources var)
  set(files ${${var}})
  if(WIN32)
    list(FILTER files EXCLUDE REGEX "Posix\\.cpp$")
  else()
    list(FILTER files EXCLUDE REGEX "Win32\\.cpp$")
  endif()
  set(${var} ${files} PARENT_SCOPE)
endfunction()

if(WIN32)
  # Windows 10 and later (virtual-terminal sequences, the SetupAPI property
  # keys); 64-bit file offsets for fseeko/ftello, as on Linux.
  add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 WIN32_LEAN_AND_MEAN NOMINMAX _FILE_OFFSET_BITS=64)
endif()
