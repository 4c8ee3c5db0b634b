cmake_minimum_required(VERSION 3.25)
# cmake -DSCDOC=... -DSOURCE=page.scd -DFOOTER=footer.scd -DPAGE=out [-DGROFF=... -DTEXT=out.txt]
#       -P scdoc_page.cmake
# scdoc reads the page, with the footer shared by every page after it, on
# standard input and writes roff on standard output; a failed run leaves no
# page behind, so the next build tries again.
# The date in the page's footer is SOURCE_DATE_EPOCH when it is set, else the
# time of the last commit that changed the page, so that building the same
# sources twice gives the same bytes; outside a git checkout it is today.
get_filename_component(dir ${PAGE} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  get_filename_component(source_dir ${SOURCE} DIRECTORY)
  execute_process(COMMAND git log -1 --format=%ct -- ${SOURCE} WORKING_DIRECTORY ${source_dir}
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE status)
  if(status EQUAL 0 AND epoch MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} ${epoch})
  endif()
endif()
file(READ ${SOURCE} text)
file(READ ${FOOTER} footer)
file(WRITE ${PAGE}.scd "${text}${footer}")
execute_process(COMMAND ${SCDOC} INPUT_FILE ${PAGE}.scd OUTPUT_FILE ${PAGE}.tmp
  ERROR_VARIABLE error RESULT_VARIABLE status)
file(REMOVE ${PAGE}.scd)
if(NOT status EQUAL 0)
  file(REMOVE ${PAGE}.tmp)
  message(FATAL_ERROR "scdoc failed on ${SOURCE}: ${error}")
endif()
file(RENAME ${PAGE}.tmp ${PAGE})
# The page as plain UTF-8 text too, for a system without man (Windows).
if(DEFINED TEXT)
  execute_process(COMMAND ${GROFF} -man -Tutf8 -P-cbou ${PAGE} OUTPUT_FILE ${TEXT}
    ERROR_VARIABLE error RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    file(REMOVE ${TEXT})
    message(FATAL_ERROR "groff failed on ${PAGE}: ${error}")
  endif()
endif()
