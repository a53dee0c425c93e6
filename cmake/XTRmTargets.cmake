# What every target of this tree shares: its own compile options (never passed
# on to a host) and the version resource of every DLL and executable it ships.

add_library(xtrm_build_options INTERFACE)
target_compile_definitions(xtrm_build_options INTERFACE NOMINMAX WINVER=0x0601 _WIN32_WINNT=0x0601)
if(MSVC)
    target_compile_options(xtrm_build_options INTERFACE /W4 /permissive- /EHsc /utf-8)
else()
    target_compile_options(xtrm_build_options INTERFACE -Wall -Wextra -Wno-unused-parameter -Wno-cast-function-type
        $<$<COMPILE_LANGUAGE:CXX>:-Wsuggest-override>)
endif()

# A VERSIONINFO resource from the project's version, so that Explorer's
# properties (and GetFileVersionInfo) tell which XTRm a file belongs to.
function(xtrm_version_resource target description)
    get_target_property(type ${target} TYPE)
    get_target_property(name ${target} OUTPUT_NAME)
    if(NOT name)
        set(name ${target})
    endif()
    if(type STREQUAL "EXECUTABLE")
        set(XTRM_FILE_NAME "${name}.exe")
        set(XTRM_FILE_TYPE "VFT_APP")
    else()
        set(XTRM_FILE_NAME "${name}.dll")
        set(XTRM_FILE_TYPE "VFT_DLL")
    endif()
    set(XTRM_FILE_DESCRIPTION "${description}")
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/XTRmVersion.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()

if(MINGW)
    # The MinGW runtime DLLs that our binaries need, beside them.
    set(XTRM_RUNTIME_DLLS "")
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
            OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT EXISTS ${path})
            message(FATAL_ERROR "MinGW runtime DLL not found: ${dll}")
        endif()
        file(COPY ${path} DESTINATION ${XTRM_BIN_DIR})
        list(APPEND XTRM_RUNTIME_DLLS ${path})
    endforeach()
endif()
