# What `cmake --install` puts on the device (component `runtime`) and on a
# developer's machine (component `dev`), and the Debian packages made of them.
# Included by the top-level CMakeLists.txt once every program target exists.
#
# The programs name absolute paths (/usr/sbin, /usr/share/voice_hints), so the
# prefix defaults to /usr. Start-up files go to /etc and /lib whatever the
# prefix: under DESTDIR they land in the staging root as Buildroot and Debian
# expect.

# A multiarch toolchain (Debian's cross compilers) gets the multiarch library
# directory that GNUInstallDirs gives native builds only, so the amd64 and
# armhf -dev packages agree; a plain sysroot (Buildroot) keeps lib.
if(CMAKE_CROSSCOMPILING AND CMAKE_LIBRARY_ARCHITECTURE AND CMAKE_INSTALL_PREFIX STREQUAL "/usr"
   AND EXISTS /etc/debian_version)
    set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries (LIBDIR)")
endif()
include(GNUInstallDirs)

set(SYSTEMD_UNIT_DIR "/lib/systemd/system" CACHE PATH "Where the systemd unit is installed")
option(INSTALL_PCMDRONE_APLAY "Install component pcmdrone-aplay: bin/pcmdrone as a link to aplay" OFF)
set(PCMDRONE_LINK_TARGET "aplay" CACHE STRING "What bin/pcmdrone links to (relative: in the same directory)")

foreach(program holdSentry apStarter)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT runtime)
    endif()
endforeach()
foreach(program macPrint silencePlayer)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
    endif()
endforeach()

# holdSentry plays the prompt from a path fixed at build time: install it
# exactly there, relative to the prefix when it lies inside it.
cmake_path(GET HOLDSENTRY_PROMPT_FILE PARENT_PATH promptDir)
cmake_path(GET HOLDSENTRY_PROMPT_FILE FILENAME promptName)
cmake_path(IS_PREFIX CMAKE_INSTALL_PREFIX "${promptDir}" NORMALIZE promptInPrefix)
if(promptInPrefix)
    cmake_path(RELATIVE_PATH promptDir BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}")
endif()
install(FILES ${PROJECT_SOURCE_DIR}/data/voice_hints/normalreset.wav
        DESTINATION "${promptDir}" RENAME "${promptName}" COMPONENT runtime)

configure_file(${PROJECT_SOURCE_DIR}/data/init/holdSentry.service.in
               ${PROJECT_BINARY_DIR}/init/holdSentry.service @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/data/init/holdSentry.init.in
               ${PROJECT_BINARY_DIR}/init/holdSentry @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/init/holdSentry.service
        DESTINATION "${SYSTEMD_UNIT_DIR}" COMPONENT runtime)
install(PROGRAMS ${PROJECT_BINARY_DIR}/init/holdSentry
        DESTINATION "${CMAKE_INSTALL_FULL_SYSCONFDIR}/init.d" COMPONENT runtime)

if(TARGET cfgfile)
    install(TARGETS cfgfile ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
    install(FILES ${PROJECT_SOURCE_DIR}/holdSentry/cfgfile.h
            DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
    set(PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
    set(PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
    configure_file(${CMAKE_CURRENT_LIST_DIR}/cfgfile.pc.in ${PROJECT_BINARY_DIR}/cfgfile.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/cfgfile.pc
            DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endif()

# silencePlayer starts "pcmdrone"; boards that play through ALSA's aplay get it
# as a link (made in the build tree, installed as a link).
if(INSTALL_PCMDRONE_APLAY)
    file(CREATE_LINK "${PCMDRONE_LINK_TARGET}" ${PROJECT_BINARY_DIR}/pcmdrone SYMBOLIC)
    install(FILES ${PROJECT_BINARY_DIR}/pcmdrone
            DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT pcmdrone-aplay)
endif()

# Debian packages: `cpack` in a build directory (see `make packages`).
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    set(debArch amd64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(debArch arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
    set(debArch armhf)   # the toolchain is arm-linux-gnueabihf
else()
    set(debArch ${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velvora-sysutils)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Velvora firmware team <firmware@velvora.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
if(INSTALL_PCMDRONE_APLAY)
    list(APPEND CPACK_COMPONENTS_ALL pcmdrone-aplay)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The device has little flash: packages carry stripped programs.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${debArch})
# dpkg-shlibdeps cannot see the target's libraries when cross building; the
# programs need only the C library (64-bit time_t symbols: glibc 2.34).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME velvora-sysutils)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6 (>= 2.34)")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "alsa-utils")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "Velvora device system programs
Factory-reset button watcher (holdSentry, with systemd unit and init script),
access-point launcher, interface address printer and silence player.")
# dpkg keeps local edits of files under /etc only when they are listed here.
file(WRITE ${PROJECT_BINARY_DIR}/init/conffiles "${CMAKE_INSTALL_FULL_SYSCONFDIR}/init.d/holdSentry\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/init/conffiles)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME velvora-sysutils-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libc6-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "Velvora key-value configuration library (static)
libcfgfile reads and writes the device's key = value files from C or C++.")
set(CPACK_DEBIAN_PCMDRONE-APLAY_PACKAGE_NAME velvora-sysutils-pcmdrone-aplay)
set(CPACK_DEBIAN_PCMDRONE-APLAY_PACKAGE_DEPENDS "alsa-utils")
set(CPACK_DEBIAN_PCMDRONE-APLAY_DESCRIPTION "pcmdrone as ALSA's aplay
Makes silencePlayer play through aplay.")
include(CPack)
