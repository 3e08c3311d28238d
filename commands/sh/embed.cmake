# Turns the remote shell programs into one header of string constants, so
# that the binary stays one file and reads nothing from disk at run time:
#   cmake -DOUT=header -P embed.cmake file.sh...
# Each FILE.sh becomes "inline constexpr char sh_FILE[]", its exact bytes.
set(text "// Generated from commands/sh/*.sh by embed.cmake: edit those files.\n#pragma once\n")
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE 4 ${last})
  set(file "${CMAKE_ARGV${i}}")
  get_filename_component(name "${file}" NAME_WE)
  file(READ "${file}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND text "inline constexpr char sh_${name}[] = {${bytes}0};\n")
endforeach()
file(WRITE "${OUT}.new" "${text}")
file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.new")
