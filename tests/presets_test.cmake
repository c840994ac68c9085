# The per-protocol presets of CMakePresets.json are the protocols of
# protocols/protocol_list.h, one each: a configure preset named as the
# protocol whose LINKSIM_PROTOCOL is its file, and a build preset of it.
# CMakePresets.json cannot be made from the list, so this holds it to it.
#
#   cmake -DSOURCE=DIR -DPROTOCOLS=FILE;... -P presets_test.cmake
cmake_minimum_required(VERSION 3.25)
file(READ ${SOURCE}/CMakePresets.json presets)
string(JSON configures GET "${presets}" configurePresets)
string(JSON configure_count LENGTH "${configures}")
string(JSON builds GET "${presets}" buildPresets)
string(JSON build_count LENGTH "${builds}")
set(found)
math(EXPR last "${configure_count} - 1")
foreach(i RANGE ${last})
  string(JSON name GET "${configures}" ${i} name)
  string(JSON protocol ERROR_VARIABLE none GET "${configures}" ${i}
         cacheVariables LINKSIM_PROTOCOL)
  if(none)
    continue()
  endif()
  string(REGEX REPLACE "^\\$\\{sourceDir\\}/protocols/([a-z0-9_]+)\\.cpp$" "\\1"
         file "${protocol}")
  string(REPLACE "_" "-" expected "${file}")
  list(FIND PROTOCOLS "${file}" listed)
  if(listed EQUAL -1 OR NOT name STREQUAL expected)
    message(SEND_ERROR "preset ${name} builds ${protocol}: no protocol of "
            "the list by that name")
  endif()
  list(APPEND found ${file})
endforeach()
set(built)
math(EXPR last "${build_count} - 1")
foreach(i RANGE ${last})
  string(JSON name GET "${builds}" ${i} name)
  list(APPEND built ${name})
endforeach()
foreach(file IN LISTS PROTOCOLS)
  string(REPLACE "_" "-" name "${file}")
  if(NOT file IN_LIST found)
    message(SEND_ERROR "no configure preset ${name} for protocols/${file}.cpp")
  endif()
  if(NOT name IN_LIST built)
    message(SEND_ERROR "no build preset ${name}")
  endif()
endforeach()
