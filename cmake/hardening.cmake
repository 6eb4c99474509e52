# Debian's hardening for the plain Linux build: the flags dpkg-buildflags gives a package
# (fortified libc calls, stack protector, format strings checked, full RELRO, PIE), since
# both programs read datagrams from anyone on the LAN. The sanitizer builds and the Windows
# build leave this file out.
#
# The build type keeps choosing optimisation and debug information, so dpkg-buildflags'
# own -g -O2 are stripped; a Debug build asks for noopt, which drops _FORTIFY_SOURCE (it
# needs optimisation). Absolute paths stay in the debug information, so a debugger finds
# the sources; the package is stripped anyway.
find_program(DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
set(deb_build_options "")
if(CMAKE_BUILD_TYPE STREQUAL "Debug")
    set(deb_build_options noopt)
endif()
foreach(flags CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env
            DEB_BUILD_OPTIONS=${deb_build_options}
            "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-fixfilepath,-fixdebugpath"
            "DEB_${flags}_MAINT_STRIP=-g -O2 -O0"
            ${DPKG_BUILDFLAGS} --get ${flags}
        OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "dpkg-buildflags --get ${flags} failed: ${status}")
    endif()
    separate_arguments(DEB_${flags} UNIX_COMMAND "${value}")
endforeach()
string(REPLACE ";" " " shown "${DEB_CPPFLAGS};${DEB_CXXFLAGS};${DEB_LDFLAGS}")
message(STATUS "Hardening: ${shown}")

add_compile_options(${DEB_CPPFLAGS}
    "$<$<COMPILE_LANGUAGE:C>:${DEB_CFLAGS}>"
    "$<$<COMPILE_LANGUAGE:CXX>:${DEB_CXXFLAGS}>")
add_link_options(${DEB_LDFLAGS})

# Executables link as PIE. Qt built with reduced relocations wants its users compiled with
# -fPIC, not -fPIE: its targets add -fPIC after CMake's -fPIE, so that one wins.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported()
