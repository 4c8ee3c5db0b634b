# What every program we ship gets on Windows: the application manifest that
# makes its code page UTF-8, so that its narrow strings (argv, fopen, rename,
# std::filesystem, which MinGW's library reads as UTF-8) hold file names in
# any language. windres compiles it in as the RT_MANIFEST resource (type 24).
enable_language(RC)
set(QVBP_MANIFEST_RC ${PROJECT_BINARY_DIR}/generated/utf8_code_page.rc)
file(CONFIGURE OUTPUT ${QVBP_MANIFEST_RC}
  CONTENT "1 24 \"${CMAKE_CURRENT_LIST_DIR}/utf8_code_page.manifest\"\n")

function(qvbp_windows_programs)
  foreach(program ${ARGN})
    if(TARGET ${program})
      target_sources(${program} PRIVATE ${QVBP_MANIFEST_RC})
    endif()
  endforeach()
endfunction()
