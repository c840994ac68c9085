# Included by the top CMakeLists.txt where Emscripten's toolchain configures
# the tree (the web tree's WebAssembly build, web/CMakeLists.txt): linksim-arq
# and linksim-check as modules the lab's page instantiates afresh for every
# run, so that no static state of one run leaks into the next. Each module
# is a factory (createLinksimArq, createLinksimCheck) whose main the page
# calls with the arguments, variables and files the programs read: its
# standard streams, MEMFS files and exit status are what the page shows.
# linksim-arq also exports its table of variables (linksim_variables_json),
# which the page reads once, from an instance that runs no main, to build
# its controls. The exercise core (exercise/page.cpp) is a module of
# functions on strings, with no main and no file, instantiated once.
set(linksim_wasm_options
  -sMODULARIZE=1 -sENVIRONMENT=web -sINVOKE_RUN=0 -sEXIT_RUNTIME=1
  -sALLOW_MEMORY_GROWTH=1 -sFORCE_FILESYSTEM=1)
# The checker reads no variable, so its module has no ENV to export.
target_link_options(linksim_arq PRIVATE ${linksim_wasm_options}
  -sEXPORT_NAME=createLinksimArq
  -sEXPORTED_FUNCTIONS=_main,_linksim_variables_json
  -sEXPORTED_RUNTIME_METHODS=FS,ENV,callMain,UTF8ToString)
target_link_options(linksim_check PRIVATE ${linksim_wasm_options}
  -sEXPORT_NAME=createLinksimCheck -sEXPORTED_RUNTIME_METHODS=FS,callMain)
target_link_options(linksim_exercise_page PRIVATE
  -sMODULARIZE=1 -sENVIRONMENT=web -sALLOW_MEMORY_GROWTH=1 --no-entry
  -sEXPORT_NAME=createLinksimExercise
  -sEXPORTED_FUNCTIONS=_lab_exercise,_malloc,_free
  -sEXPORTED_RUNTIME_METHODS=HEAPU8)
