# The package a host consumes with find_package(XTRm): the DLLs and their
# import libraries, the headers, the reference resources, and the CMake
# targets XTRm::XTRm, XTRm::Service, XTRm::HostLibs and XTRm::mfc (with the
# MinGW build, the MFC subset behind it). CPack zips the same tree as an SDK.

set(XTRM_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/XTRm)
set(XTRM_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/XTRm)
set(XTRM_INSTALL_RESOURCEDIR ${CMAKE_INSTALL_DATADIR}/XTRm/resources)

set(XTRM_EXPORTED_TARGETS XTRm xthostlibs xtrm_mfc xtrm_testkit)
if(TARGET mfcsub)
    list(APPEND XTRM_EXPORTED_TARGETS mfcsub mfcsub_winmain)
endif()
if(TARGET XTRms)
    list(APPEND XTRM_EXPORTED_TARGETS XTRms)
endif()

# CPack strips what it packs; a Debug configuration keeps its debugging
# information, which is what a host's debugger wants from it.
install(CODE "if(CMAKE_INSTALL_CONFIG_NAME MATCHES \"^[Dd][Ee][Bb][Uu][Gg]$\")
    set(CMAKE_INSTALL_DO_STRIP 0)
endif()")
install(TARGETS ${XTRM_EXPORTED_TARGETS} EXPORT XTRmTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${XTRM_INSTALL_INCLUDEDIR})
if(TARGET xtrms)
    # One console in the SDK: the release one (a Debug tree installed beside
    # it brings only its libraries).
    install(TARGETS xtrms RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        CONFIGURATIONS Release RelWithDebInfo MinSizeRel)
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
install(FILES ${XTRM_GENERATED_INCLUDE_DIR}/XTRmVersion.h DESTINATION ${XTRM_INSTALL_INCLUDEDIR})
if(TARGET XTRms)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/service/include/ DESTINATION ${XTRM_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")
endif()
if(TARGET mfcsub)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/mfc/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/mfcsub
        FILES_MATCHING PATTERN "*.h")
endif()

install(FILES testkit/XTRmUiRobot.h testkit/XTRmRecordingCmdUI.h DESTINATION ${XTRM_INSTALL_INCLUDEDIR}/testkit)
install(FILES testkit/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/testkit)

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
    ${PROJECT_SOURCE_DIR}/cmake/XTRmDeploy.cmake
    DESTINATION ${XTRM_INSTALL_CMAKEDIR})
# The documentation as the tree holds it, so that its links and pictures work.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/LICENSE
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/service/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/service)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/screenshots DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs
    FILES_MATCHING PATTERN "*.png")

set(CPACK_PACKAGE_NAME XTRm-SDK)
set(CPACK_PACKAGE_VENDOR "XTRm developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# With XTRM_SDK_DEBUG_BUILD_DIR (make sdk sets it) the SDK holds the Debug
# configuration of that build folder beside this one's.
set(XTRM_SDK_DEBUG_BUILD_DIR "" CACHE PATH "A Debug build folder of this tree whose install joins the SDK")
if(XTRM_SDK_DEBUG_BUILD_DIR)
    set(CPACK_INSTALL_CMAKE_PROJECTS
        "${PROJECT_BINARY_DIR};XTRm;ALL;/" "${XTRM_SDK_DEBUG_BUILD_DIR};XTRm;ALL;/")
endif()
include(CPack)
