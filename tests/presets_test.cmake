# The per-protocol presets of CMakePresets.json, which cannot be made from
# protocols/protocol_list.h, are its protocols, one each: a configure preset
# named as the protocol whose LINKSIM_PROTOCOL is its file, and a build
# preset of that name.
#
#   cmake -DSOURCE=DIR -DPROTOCOLS=FILE;... -P presets_test.cmake
cmake_minimum_required(VERSION 3.25)
file(READ ${SOURCE}/CMakePresets.json presets)
foreach(kind configure build)
  string(JSON ${kind}s GET "${presets}" ${kind}Presets)
  string(JSON count LENGTH "${${kind}s}")
  math(EXPR last "${count} - 1")
  set(${kind}_names)
  foreach(i RANGE ${last})
    string(JSON name GET "${${kind}s}" ${i} name)
    string(JSON file ERROR_VARIABLE none GET "${${kind}s}" ${i}
           cacheVariables LINKSIM_PROTOCOL)
    if(kind STREQUAL "build" OR NOT none)
      list(APPEND ${kind}_names "${name}")
    endif()
    if(kind STREQUAL "configure" AND NOT none)
      string(REPLACE "-" "_" stem "${name}")
      if(NOT file STREQUAL "\${sourceDir}/protocols/${stem}.cpp" OR
         NOT stem IN_LIST PROTOCOLS)
        message(SEND_ERROR "preset ${name} builds ${file}: not the list's")
      endif()
    endif()
  endforeach()
endforeach()
foreach(stem IN LISTS PROTOCOLS)
  string(REPLACE "_" "-" name "${stem}")
  if(NOT name IN_LIST configure_names OR NOT name IN_LIST build_names)
    message(SEND_ERROR "no configure and build preset ${name} for ${stem}.cpp")
  endif()
endforeach()
