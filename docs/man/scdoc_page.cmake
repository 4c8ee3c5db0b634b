cmake_minimum_required(VERSION 3.25)
# cmake -DSCDOC=... -DSOURCE=page.scd -DPAGE=out -P scdoc_page.cmake
# scdoc reads the page on standard input and writes roff on standard output;
# a failed run leaves no page behind, so the next build tries again.
get_filename_component(dir ${PAGE} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
execute_process(COMMAND ${SCDOC} INPUT_FILE ${SOURCE} OUTPUT_FILE ${PAGE}.tmp
  ERROR_VARIABLE error RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${PAGE}.tmp)
  message(FATAL_ERROR "scdoc failed on ${SOURCE}: ${error}")
endif()
file(RENAME ${PAGE}.tmp ${PAGE})
