# Debian's hardening flags, as dpkg-buildflags gives them with every hardening feature on:
# stack protector, fortified libc calls, format checks, read-only relocations bound at load.
# The build type keeps choosing optimisation and debug information; the fortified calls need
# an optimised build, so a Debug or sanitizer build goes without them.
option(ZANDREL_HARDENING "Build with Debian's hardening flags (dpkg-buildflags)" ON)
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(ZANDREL_HARDENING AND DPKG_BUILDFLAGS AND NOT ZANDREL_SANITIZE)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
        execute_process(
            COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                    ${DPKG_BUILDFLAGS} --get ${kind}
            OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
        separate_arguments(flags UNIX_COMMAND "${flags}")
        # The prefix map names the folder CMake ran in, which means nothing to the build.
        list(FILTER flags EXCLUDE REGEX "^-(O[0-9sgz]?|g|ffile-prefix-map=.*)$")
        set(hardening_${kind} ${flags})
    endforeach()
    set(optimised $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
    target_compile_options(zandrel_policy INTERFACE ${hardening_CXXFLAGS}
        "$<${optimised}:${hardening_CPPFLAGS}>")
    target_link_options(zandrel_policy INTERFACE ${hardening_LDFLAGS})
    message(STATUS "Hardening flags: ${hardening_CXXFLAGS} ${hardening_CPPFLAGS} ${hardening_LDFLAGS}")
endif()
