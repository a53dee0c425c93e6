# XTRm's reference resources as a resource script of a host's own target:
#
#   include(${XTRm_RESOURCE_DIR}/XTRmResources.cmake)
#   xtrm_add_reference_resources(PlantControl)
#
# The script is compiled on its own, so the LANGUAGE and code page of the
# host's .rc stay as the host wrote them, with windres and with Microsoft's rc
# alike (the linker merges the compiled resources). The host's C++ sources
# get no include folder from it. Needs CMake 3.18.
set(XTRM_REFERENCE_RESOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}")

function(xtrm_add_reference_resources target)
    set(dir "${XTRM_REFERENCE_RESOURCE_DIR}")
    set(script "${dir}/XTRmResources.rc")
    target_sources(${target} PRIVATE "${script}")
    # Resource compilers do not report what a script includes: the parts are
    # named, so a changed template or picture compiles the script again.
    file(GLOB parts "${dir}/*.rc" "${dir}/*.png" "${dir}/*.h")
    get_target_property(target_dir ${target} SOURCE_DIR)
    set_source_files_properties("${script}" DIRECTORY "${target_dir}"
        PROPERTIES INCLUDE_DIRECTORIES "${dir}" OBJECT_DEPENDS "${parts}")
endfunction()
