# The lab's page, lab.html in the tree's top directory: web/page.html with
# the page's scripts, the example settings, the exercise sets and the
# programs' WebAssembly modules put inside it, one file that needs no
# server. Every tree makes it, from the modules kept in web/wasm/, so that
# the package holds the page without its tree needing Emscripten; the web
# tree makes it from the modules it compiles itself (web/CMakeLists.txt),
# and holds the kept ones to those (web.page_current).

# The modules' files, as Emscripten names them.
set(linksim_wasm_files linksim-arq.js linksim-arq.wasm linksim-check.js
    linksim-check.wasm linksim-exercise-page.js linksim-exercise-page.wasm)

# Makes lab.html from the modules in WASM_DIR, after DEPENDS (the target or
# files that make them, if any).
function(linksim_lab_page wasm_dir)
  find_program(LINKSIM_BASE64 base64 REQUIRED)
  set(scripts variables scenario engine trace diagram exercise lab)
  list(TRANSFORM scripts PREPEND ${PROJECT_SOURCE_DIR}/web/js/)
  list(TRANSFORM scripts APPEND .js)
  file(GLOB exercises CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/exercises/*.txt)
  set(modules ${linksim_wasm_files})
  list(TRANSFORM modules PREPEND ${wasm_dir}/)
  set(page ${PROJECT_BINARY_DIR}/lab.html)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -DOUT=${page}
      -DTEMPLATE=${PROJECT_SOURCE_DIR}/web/page.html
      -DWASM=${wasm_dir} -DBASE64=${LINKSIM_BASE64}
      -DLINK=${PROJECT_SOURCE_DIR}/examples/link.txt
      -DVERSION=${PROJECT_VERSION}
      "-DSCRIPTS=${scripts}" "-DEXERCISES=${exercises}"
      -P ${PROJECT_SOURCE_DIR}/web/make_page.cmake
    DEPENDS ${modules} ${ARGN} ${PROJECT_SOURCE_DIR}/web/page.html
      ${PROJECT_SOURCE_DIR}/web/make_page.cmake ${scripts} ${exercises}
      ${PROJECT_SOURCE_DIR}/examples/link.txt
    VERBATIM)
  add_custom_target(lab_page ALL DEPENDS ${page})
endfunction()
