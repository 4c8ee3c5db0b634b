# Lays out the playground: the page's files, the core module, the example
# songs and the list of them that the page offers.
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
list(JOIN names ", " list)
file(WRITE ${SITE}/examples/index.json "[${list}]\n")
