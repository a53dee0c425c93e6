# The package a host consumes with find_package(XTRm): the DLLs and their
# import libraries, the headers, the reference resources, and the CMake
# targets XTRm::XTRm, XTRm::Service, XTRm::HostLibs and XTRm::mfc (with the
# MinGW build, the MFC subset behind it). CPack zips the same tree as an SDK.

set(XTRM_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/XTRm)
set(XTRM_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/XTRm)
set(XTRM_INSTALL_RESOURCEDIR ${CMAKE_INSTALL_DATADIR}/XTRm/resources)

set(XTRM_EXPORTED_TARGETS XTRm xthostlibs xtrm_mfc)
if(TARGET mfcsub)
    list(APPEND XTRM_EXPORTED_TARGETS mfcsub mfcsub_winmain)
endif()
if(TARGET XTRms)
    list(APPEND XTRM_EXPORTED_TARGETS XTRms)
endif()

install(TARGETS ${XTRM_EXPORTED_TARGETS} EXPORT XTRmTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${XTRM_INSTALL_INCLUDEDIR})
if(TARGET xtrms)
    install(TARGETS xtrms RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(XTRM_RUNTIME_DLLS)
    install(FILES ${XTRM_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Headers: one folder, as every exported header includes the others by name.
foreach(dir ${XTRM_PUBLIC_HEADER_DIRS})
    file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*.h)
    list(FILTER headers EXCLUDE REGEX "/(XTRmModule|XTRmAdminUtil|XTRmLoginDlgControls)\\.h$")
    install(FILES ${headers} DESTINATION ${XTRM_INSTALL_INCLUDEDIR})
endforeach()
if(TARGET XTRms)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/service/include/ DESTINATION ${XTRM_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")
endif()
if(TARGET mfcsub)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/mfc/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/mfcsub
        FILES_MATCHING PATTERN "*.h")
endif()

# The reference resources a host includes in its own resource script.
install(FILES ${XTRM_REFERENCE_RESOURCES} ${PROJECT_SOURCE_DIR}/include/XTRmResourceIds.h
    DESTINATION ${XTRM_INSTALL_RESOURCEDIR})

install(EXPORT XTRmTargets NAMESPACE XTRm:: DESTINATION ${XTRM_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/XTRmConfig.cmake.in
    ${PROJECT_BINARY_DIR}/XTRmConfig.cmake
    INSTALL_DESTINATION ${XTRM_INSTALL_CMAKEDIR}
    PATH_VARS XTRM_INSTALL_RESOURCEDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/XTRmConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/XTRmConfig.cmake ${PROJECT_BINARY_DIR}/XTRmConfigVersion.cmake
    DESTINATION ${XTRM_INSTALL_CMAKEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
    DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME XTRm-SDK)
set(CPACK_PACKAGE_VENDOR "XTRm developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
