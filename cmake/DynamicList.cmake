# Writes the dynamic list of a program that loads modules (cmake -P, see
# tw_export_layers in the top CMakeLists.txt):
#
#   cmake -DOUT=file -DNM=nm -P DynamicList.cmake MODULE...
#
# The list names every symbol in the MODULEs' dynamic tables: the names they
# take from the program, and the vague-linkage names (inline functions'
# statics, template members, type information) they carry a copy of, which
# must bind to the program's one copy where it has one; and the settings a
# sanitizer's runtime library asks the program for. The program exports only
# those of them it defines. OUT is written only when the list changes.
if(NOT OUT OR NOT NM)
  message(FATAL_ERROR "DynamicList.cmake needs -DOUT= and -DNM=")
endif()
set(_names __asan_default_options __lsan_default_options __lsan_default_suppressions __ubsan_default_options)
include(${CMAKE_CURRENT_LIST_DIR}/ScriptArgs.cmake)
foreach(_arg IN LISTS SCRIPT_ARGS)
  execute_process(COMMAND "${NM}" -D -P "${_arg}" OUTPUT_VARIABLE _out RESULT_VARIABLE _rc ERROR_VARIABLE _err)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "DynamicList.cmake: ${NM} -D ${_arg} failed: ${_err}")
  endif()
  # One line per symbol: "name type [value size]"; a versioned name ends in
  # "@VERSION" or "@@VERSION", which is not part of the name.
  string(REGEX MATCHALL "[^\n]+" _lines "${_out}")
  foreach(_line IN LISTS _lines)
    string(REGEX REPLACE "^([^ @]+).*$" "\\1" _name "${_line}")
    if(_name MATCHES "^[A-Za-z_.$][A-Za-z0-9_.$]*$")
      list(APPEND _names "${_name}")
    endif()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES _names)
list(SORT _names)
set(_text "{\n")
foreach(_name IN LISTS _names)
  string(APPEND _text "  \"${_name}\";\n")
endforeach()
string(APPEND _text "};\n")
tw_write_if_changed("${OUT}" "${_text}")
