# Writes the source of this build's marker (cmake -P, see monitor/CMakeLists.txt):
#
#   cmake -DOUT=file.cpp -P BuildToken.cmake INPUT...
#
# The token is a digest of the INPUT files (the layers' libraries and the
# web-mail module's own objects), so a change to any of them gives the
# program and its module another token. OUT is written only when the token
# changes: an unchanged one links nothing again.
if(NOT OUT)
  message(FATAL_ERROR "BuildToken.cmake needs -DOUT=")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/ScriptArgs.cmake)
set(_digests "")
foreach(_arg IN LISTS SCRIPT_ARGS)
  if(NOT EXISTS "${_arg}")
    message(FATAL_ERROR "BuildToken.cmake: ${_arg} is missing")
  endif()
  file(SHA256 "${_arg}" _d)
  string(APPEND _digests "${_d}\n")
endforeach()
if(_digests STREQUAL "")
  message(FATAL_ERROR "BuildToken.cmake: no input files")
endif()
string(SHA256 _token "${_digests}")
set(_text "// Made by the build (cmake/BuildToken.cmake); not to be edited.
// The token of this build: the program and its web-mail module each carry
// it, and the program loads no module with another one (webmail/WebMailModule.h).
extern \"C\" __attribute__((used, visibility(\"hidden\"))) const char TwBuildMarker[] =
    \"TW-BUILD:${_token}\";
")
tw_write_if_changed("${OUT}" "${_text}")
