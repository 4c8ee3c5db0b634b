# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on the staged tree before it is
# packed: what Debian wants beyond the installed tree. The manual pages and
# the changelog are compressed with gzip -9n (no name or time in them), the
# changelog's date is SOURCE_DATE_EPOCH when it is set, and the copyright
# file made from LICENSE at configure time takes LICENSE's place; so the
# same sources give the same files.
set(stage ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
set(doc ${stage}/${CPACK_QVBP_DOCDIR})
find_program(GZIP gzip REQUIRED)

# CPack has stripped the programs of their symbols; as in Debian's own
# packages, the compilers' notes (.comment, .note) go too.
file(GLOB programs ${stage}/bin/*)
foreach(program ${programs})
  execute_process(COMMAND ${CPACK_QVBP_STRIP} --remove-section=.comment --remove-section=.note ${program}
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()

file(GLOB pages ${stage}/${CPACK_QVBP_MANDIR}/man*/*)
foreach(page ${pages})
  if(NOT page MATCHES "\\.gz$")
    execute_process(COMMAND ${GZIP} -9nf ${page} COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()

# A package without a Debian revision is native: its one changelog is
# changelog.gz, in Debian's format, pointing at the project's own.
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${doc}/changelog
"${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium

  * Release ${CPACK_PACKAGE_VERSION}; what it holds is in CHANGELOG.md.

 -- ${CPACK_DEBIAN_PACKAGE_MAINTAINER}  ${date}
")
execute_process(COMMAND ${GZIP} -9nf ${doc}/changelog COMMAND_ERROR_IS_FATAL ANY)
configure_file(${CPACK_QVBP_COPYRIGHT} ${doc}/copyright COPYONLY)
file(REMOVE ${doc}/LICENSE)
