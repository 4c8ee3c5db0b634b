# Lays out the playground: the page's files, the core module, the example
# songs and the list of them that the page offers. The modules only the page's
# script imports are left out: the bundle (written next) holds them.
file(GLOB FILES ${PAGE}/*)
list(REMOVE_ITEM FILES ${PAGE}/app.js ${PAGE}/editor.js ${PAGE}/qvm_language.js ${PAGE}/roll.js)
file(GLOB EXAMPLES ${EXAMPLES}/*.qvm)
file(REMOVE_RECURSE ${SITE})
file(MAKE_DIRECTORY ${SITE}/examples)
file(COPY ${FILES} ${WASM} DESTINATION ${SITE})
file(COPY ${EXAMPLES} DESTINATION ${SITE}/examples)
set(names "")
foreach(example ${EXAMPLES})
  get_filename_component(name ${example} NAME)
  list(APPEND names "\"${name}\"")
endforeach()
list(SORT names)
# The page opens the first song of the list: the demo, then the others by name.
list(FIND names "\"demo.qvm\"" demo)
if(demo GREATER 0)
  list(REMOVE_AT names ${demo})
  list(PREPEND names "\"demo.qvm\"")
endif()
list(JOIN names ", " list)
file(WRITE ${SITE}/examples/index.json "[${list}]\n")
