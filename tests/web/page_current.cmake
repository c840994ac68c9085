# cmake -P page_current.cmake: fails, naming them, when the modules kept in
# KEPT (web/wasm) are not those compiled in BUILT, each of FILES: then the
# package's page is not this tree's (cmake --build --preset web --target
# lab_update brings them up to date).
set(stale "")
foreach(file IN LISTS FILES)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${BUILT}/${file}
                          ${KEPT}/${file} RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    list(APPEND stale ${file})
  endif()
endforeach()
if(stale)
  list(JOIN stale ", " stale)
  message(FATAL_ERROR "web/wasm/ is not what this tree compiles: ${stale} "
          "(cmake --build --preset web --target lab_update)")
endif()
