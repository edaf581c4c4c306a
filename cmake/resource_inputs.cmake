# The resource compiler reports no dependencies: without this, a changed icon, picture, manifest or the
# shared version record would leave a program's compiled resources as they were.
#   launcher_track_resource_inputs(<.rc file> [TARGET_DIRECTORY <target>])
function(launcher_track_resource_inputs rc_file)
  set(resources ${PROJECT_SOURCE_DIR}/src/resources)
  file(GLOB inputs CONFIGURE_DEPENDS ${resources}/*.ico ${resources}/*.jpg ${resources}/*.manifest
       ${resources}/*.rch)
  # The version that the top CMakeLists.txt writes for the version record.
  list(APPEND inputs ${PROJECT_BINARY_DIR}/generated/version.rch)
  # The payload list's resource line, and the list when there is one.
  list(APPEND inputs ${PROJECT_BINARY_DIR}/generated/payload_list.rch)
  if(EXISTS ${PROJECT_BINARY_DIR}/generated/payload.list)
    list(APPEND inputs ${PROJECT_BINARY_DIR}/generated/payload.list)
  endif()
  set_source_files_properties(${rc_file} ${ARGN} PROPERTIES OBJECT_DEPENDS "${inputs}")
endfunction()
