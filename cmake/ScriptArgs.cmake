# Included by the build's scripts (cmake -P): sets SCRIPT_ARGS to the
# arguments given after the script's own name,
#
#   cmake [-DNAME=VALUE...] -P script.cmake ARG...
#
# (CMAKE_ARGV holds the whole command line, cmake and its own options
# first), and gives them tw_write_if_changed(FILE TEXT), which leaves a file
# that already holds TEXT untouched, so that nothing made from it is made
# again.
set(SCRIPT_ARGS "")
set(_script_args_from 0)
math(EXPR _script_args_last "${CMAKE_ARGC} - 1")
foreach(_script_args_i RANGE 1 ${_script_args_last})
  set(_script_args_arg "${CMAKE_ARGV${_script_args_i}}")
  if(_script_args_from EQUAL 0)
    if(_script_args_arg STREQUAL "-P")
      math(EXPR _script_args_from "${_script_args_i} + 2")
    endif()
  elseif(_script_args_i GREATER_EQUAL _script_args_from)
    list(APPEND SCRIPT_ARGS "${_script_args_arg}")
  endif()
endforeach()

function(tw_write_if_changed file text)
  set(_old "")
  if(EXISTS "${file}")
    file(READ "${file}" _old)
  endif()
  if(NOT _old STREQUAL text)
    file(WRITE "${file}" "${text}")
  endif()
endfunction()
