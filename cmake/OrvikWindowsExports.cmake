# The export list of orvik.dll.
#
# src/api/exports.def names every export of the public header.  While the
# library is still growing some of them may have no definition yet, and the
# linker refuses a .def entry without one; so the DLL is linked with a copy
# of the list that keeps only the names the library's objects define, and
# the names left out are reported at every link.  scripts/windows/
# check_exports.sh compares the DLL's export table with the header.
set(ORVIK_EXPORTS_FILTER_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/OrvikFilterExports.cmake")

function(orvik_link_exports target objects_target def_file)
  set(objects_list "${CMAKE_CURRENT_BINARY_DIR}/${target}_export_objects.txt")
  set(linked_def "${CMAKE_CURRENT_BINARY_DIR}/${target}_linked.def")
  file(GENERATE OUTPUT "${objects_list}"
       CONTENT "$<JOIN:$<TARGET_OBJECTS:${objects_target}>,\n>\n")
  # 32-bit cdecl functions carry a leading underscore in the object files;
  # the export names themselves are undecorated.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(symbol_prefix "_")
  else()
    set(symbol_prefix "")
  endif()
  add_custom_command(
    OUTPUT "${linked_def}"
    COMMAND "${CMAKE_COMMAND}" "-DNM=${CMAKE_NM}" "-DDEF_FILE=${def_file}"
            "-DOBJECTS_LIST=${objects_list}" "-DOUTPUT=${linked_def}"
            "-DSYMBOL_PREFIX=${symbol_prefix}" -P "${ORVIK_EXPORTS_FILTER_SCRIPT}"
    DEPENDS "${def_file}" "${ORVIK_EXPORTS_FILTER_SCRIPT}" "${objects_list}"
            $<TARGET_OBJECTS:${objects_target}>
    COMMENT "Listing the exports of ${target}"
    VERBATIM)
  add_custom_target(${target}_exports DEPENDS "${linked_def}")
  add_dependencies(${target} ${target}_exports)
  target_link_options(${target} PRIVATE "${linked_def}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${linked_def}")
endfunction()
