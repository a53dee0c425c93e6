# xtrm_deploy_runtime(<target> [INSTALL_DESTINATION <dir>])
#
# Puts every DLL that <target> needs from XTRm beside its executable after each
# build: XTRm's own DLLs, the rights service's, the MFC subset's (MinGW) and
# the toolchain's runtime (libstdc++, libgcc, winpthread), which
# $<TARGET_RUNTIME_DLLS> does not know about. With INSTALL_DESTINATION the
# same DLLs are installed there too, for the host's own installer.
# ODBC drivers are not DLLs of the host: see "Deploying to Windows
# workstations" in XTRm's README.
function(xtrm_deploy_runtime target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "INSTALL_DESTINATION" "")
    set(dlls "$<TARGET_RUNTIME_DLLS:${target}>" ${XTRm_TOOLCHAIN_RUNTIME_DLLS})
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${dlls} "$<TARGET_FILE_DIR:${target}>"
        COMMAND_EXPAND_LISTS
        VERBATIM)
    if(arg_INSTALL_DESTINATION)
        install(FILES ${dlls} DESTINATION "${arg_INSTALL_DESTINATION}")
    endif()
endfunction()
