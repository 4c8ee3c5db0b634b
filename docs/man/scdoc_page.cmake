cmake_minimum_required(VERSION 3.25)
# cmake -DSCDOC=... -DSOURCE=page.scd -DFOOTER=footer.scd -DPAGE=out -DERRORS=compile_errors.h
#       [-DGROFF=... -DTEXT=out.txt] -P scdoc_page.cmake
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

# A line @ERROR_ROWS@ becomes the rows of a table of the compiler's error
# codes, read from the one list in compile_errors.h: X(name, code, "meaning"
# "more meaning"), one entry after another.
if(text MATCHES "@ERROR_ROWS@")
  file(READ ${ERRORS} header)
  string(REGEX REPLACE ".*#define QVB_COMPILE_ERRORS\\(X\\)" "" list "${header}")
  string(REGEX REPLACE "\nenum CompileCode.*" "" list "${list}")
  # One list item per entry (the meanings hold no ';').
  string(REPLACE ";" "," list "${list}")
  string(REPLACE "X(ERR_" ";ERR_" entries "${list}")
  list(POP_FRONT entries)
  set(rows "")
  foreach(entry IN LISTS entries)
    if(NOT entry MATCHES "^(ERR_[A-Z_]+), (-?[0-9]+),")
      message(FATAL_ERROR "${ERRORS}: an error code without a name and number: ${entry}")
    endif()
    set(name ${CMAKE_MATCH_1})
    set(code ${CMAKE_MATCH_2})
    string(REGEX MATCHALL "\"[^\"]*\"" pieces "${entry}")
    string(REPLACE "\";\"" "" meaning "${pieces}")
    string(REPLACE "\"" "" meaning "${meaning}")
    # scdoc's own marks, written plainly.
    string(REPLACE "\\" "\\\\" meaning "${meaning}")
    string(REPLACE "*" "\\*" meaning "${meaning}")
    string(REPLACE "_" "\\_" meaning "${meaning}")
    string(APPEND rows "|  ${code}\n:  ${name}\n:  ${meaning}\n")
  endforeach()
  string(REPLACE "@ERROR_ROWS@\n" "${rows}" text "${text}")
endif()
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
