# cmake -P make_page.cmake: writes the lab's page, OUT, from TEMPLATE: its
# markers replaced by the example settings (LINK), the programs'
# WebAssembly in base64 and their loaders (in WASM), the exercise sets
# (EXERCISES, each named by its file's name without .txt) and the page's
# SCRIPTS, each @name@ of the template the variable of that name.
# Everything is put inside <script> elements as it is, so no piece may hold
# "</script", which would end one early.
function(piece variable file)
  file(READ ${file} text)
  string(TOLOWER "${text}" lower)
  string(FIND "${lower}" "</script" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "${file} holds </script, which would end the page's script")
  endif()
  set(${variable} "${text}" PARENT_SCOPE)
endfunction()

function(base64 variable file)
  execute_process(COMMAND ${BASE64} -w0 ${file} OUTPUT_VARIABLE text
                  COMMAND_ERROR_IS_FATAL ANY)
  set(${variable} "${text}" PARENT_SCOPE)
endfunction()

file(READ ${TEMPLATE} page)
piece(link ${LINK})
base64(arq ${WASM}/linksim-arq.wasm)
base64(check ${WASM}/linksim-check.wasm)
piece(arq_js ${WASM}/linksim-arq.js)
piece(check_js ${WASM}/linksim-check.js)
base64(exercise ${WASM}/linksim-exercise-page.wasm)
piece(exercise_js ${WASM}/linksim-exercise-page.js)
set(exercises "")
foreach(file IN LISTS EXERCISES)
  piece(text ${file})
  get_filename_component(name ${file} NAME_WE)
  string(APPEND exercises
    "<script type=\"text/plain\" class=\"lab-exercise\" data-name=\"${name}\">${text}</script>\n")
endforeach()
set(scripts "")
foreach(script IN LISTS SCRIPTS)
  piece(text ${script})
  get_filename_component(name ${script} NAME)
  string(APPEND scripts "// --- ${name}\n${text}\n")
endforeach()
# In one pass, so that no piece put in is searched for the markers after it.
string(CONFIGURE "${page}" page @ONLY)
file(WRITE ${OUT} "${page}")
