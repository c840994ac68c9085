# Read by cpack before each package it makes. Without dpkg-shlibdeps (or the
# file tool it is fed by) cpack would make a Debian package that declares no
# dependencies and say nothing, so the package is refused instead.
if(CPACK_GENERATOR STREQUAL "DEB")
  foreach(tool dpkg-shlibdeps file)
    find_program(linksim_${tool} ${tool})
    if(NOT linksim_${tool})
      message(FATAL_ERROR "${tool} is not installed; the Debian package needs "
              "it to work out its dependencies: apt-get install dpkg-dev file")
    endif()
  endforeach()
endif()
