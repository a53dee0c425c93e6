# Cross-compile for 64-bit Windows with Debian's MinGW-w64 (-posix thread model,
# which has std::mutex and std::thread) and run the results under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(XTRM_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${XTRM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${XTRM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${XTRM_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${XTRM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# ctest and custom commands run the Windows executables through our Wine runner,
# which the top-level CMakeLists.txt writes into the build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
# Several build folders of one tree (a developer's and a helper's) share
# compiled objects through ccache when it is there.
find_program(XTRM_CCACHE ccache)
if(XTRM_CCACHE)
    set(CMAKE_C_COMPILER_LAUNCHER ${XTRM_CCACHE})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${XTRM_CCACHE})
endif()
# boost is header-only here: its headers come from the build machine, through
# a folder holding only boost/, so that the build machine's C library headers
# never shadow the target's. FindBoost then works as on any other machine.
if(EXISTS /usr/include/boost/version.hpp)
    set(XTRM_BOOST_INCLUDE ${CMAKE_BINARY_DIR}/boost-include)
    if(NOT EXISTS ${XTRM_BOOST_INCLUDE}/boost)
        file(MAKE_DIRECTORY ${XTRM_BOOST_INCLUDE})
        file(CREATE_LINK /usr/include/boost ${XTRM_BOOST_INCLUDE}/boost SYMBOLIC)
    endif()
    set(Boost_INCLUDE_DIR ${XTRM_BOOST_INCLUDE} CACHE PATH "boost headers for the cross build")
    set(Boost_NO_BOOST_CMAKE ON)
    set(Boost_NO_SYSTEM_PATHS ON)
endif()
