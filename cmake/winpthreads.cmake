# libwinpthread-1.dll for Windows XP, from Debian's mingw-w64 source package
# (unpacked by scripts/setup.sh). Built for _WIN32_WINNT 0x0501 it times its
# waits with QueryPerformanceCounter instead of GetTickCount64, which XP lacks.
# Same name and exports as Debian's copy, so the shipped libstdc++-6.dll and
# libgcc_s_dw2-1.dll, and our binaries linked against Debian's import library,
# load it unchanged.
# scripts/setup.sh unpacks them where VELMORA_WINPTHREADS says, by default
# under the deps folder.
if(DEFINED ENV{VELMORA_WINPTHREADS})
    set(_wpt_default $ENV{VELMORA_WINPTHREADS})
else()
    set(_wpt_default ${VELMORA_DEPS_DIR}/winpthreads)
endif()
set(VELMORA_WINPTHREADS_DIR ${_wpt_default} CACHE PATH
    "winpthreads sources from Debian's mingw-w64 source package")
if(NOT EXISTS ${VELMORA_WINPTHREADS_DIR}/src/thread.c)
    message(FATAL_ERROR "winpthreads sources missing in ${VELMORA_WINPTHREADS_DIR}: run scripts/setup.sh")
endif()
set(_wpt ${VELMORA_WINPTHREADS_DIR})
add_library(winpthread SHARED
    ${_wpt}/src/barrier.c ${_wpt}/src/cond.c ${_wpt}/src/misc.c ${_wpt}/src/mutex.c
    ${_wpt}/src/rwlock.c ${_wpt}/src/spinlock.c ${_wpt}/src/thread.c ${_wpt}/src/ref.c
    ${_wpt}/src/sem.c ${_wpt}/src/sched.c ${_wpt}/src/clock.c ${_wpt}/src/nanosleep.c
    ${_wpt}/src/version.rc)
target_include_directories(winpthread PRIVATE ${_wpt}/include ${_wpt}/src)
# _WIN32_WINNT=0x0501 comes from the project-wide definitions.
target_compile_definitions(winpthread PRIVATE IN_WINPTHREAD DLL_EXPORT WINPTHREAD_DBG=1
    __USE_MINGW_ANSI_STDIO=0)
target_compile_options(winpthread PRIVATE $<$<COMPILE_LANGUAGE:C>:-w>)
# libgcc linked in: the library must not depend on libgcc_s_dw2-1.dll, which
# itself imports from this one.
target_link_options(winpthread PRIVATE -static-libgcc -s)
set_target_properties(winpthread PROPERTIES PREFIX "lib" OUTPUT_NAME winpthread-1
    RUNTIME_OUTPUT_DIRECTORY ${VELMORA_HOME})
add_custom_command(TARGET winpthread POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:winpthread> ${CMAKE_BINARY_DIR}/bin/)
