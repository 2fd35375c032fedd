# vantrel_version_resource(TARGET DESCRIPTION): gives a Windows program its
# version information (shell/version.rc.in), all taken from the project's
# version, so that Explorer shows the same version as --version does.
function(vantrel_version_resource target description)
  set(VERSION_FILE_NAME ${target}.exe)
  set(VERSION_FILE_DESCRIPTION "${description}")
  # Four numbers, the missing ones 0: 1.2 gives 1,2,0,0.
  set(numbers)
  foreach(part MAJOR MINOR PATCH TWEAK)
    if(PROJECT_VERSION_${part} STREQUAL "")
      list(APPEND numbers 0)
    else()
      list(APPEND numbers ${PROJECT_VERSION_${part}})
    endif()
  endforeach()
  string(REPLACE ";" "," VERSION_NUMBERS "${numbers}")
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/shell/version.rc.in ${script} @ONLY)
  target_sources(${target} PRIVATE ${script})
  target_link_libraries(${target} PRIVATE vantrel_resource_ids)
endfunction()
