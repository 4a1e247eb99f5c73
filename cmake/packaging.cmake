# What the packages hold, and how CPack makes them: a .deb from the Linux build, a zip from the Windows
# build. `cmake --build --preset linux --target package` (or windows) writes them into the build directory.

set(CPACK_PACKAGE_NAME tessera)
set(CPACK_PACKAGE_VENDOR "Tessera")
set(CPACK_PACKAGE_CONTACT "Tessera developers <tessera@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Store logos in the NV bit-image memory of receipt printers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME windows-x64)
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
    foreach(program Tessera nvlogo nvlogo-printer)
        if(TARGET ${program})
            install(TARGETS ${program} RUNTIME DESTINATION .)
        endif()
    endforeach()
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt DESTINATION .)
else()
    include(GNUInstallDirs)
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # nvlogo opens libcups and libusb only when a command needs them, so the package tools cannot see them
    # among the linked libraries; the computed dependencies are added to this list.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcups2, libusb-1.0-0")
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
        "Store logos in the NV bit-image memory of receipt printers\n"
        " nvlogo uploads logo bitmaps (BMP, PNG, JPEG, GIF) to a receipt printer's non-volatile\n"
        " image memory, prints and erases them, over TCP, serial, parallel, USB or a CUPS raw queue.\n"
        " nvlogo-printer is a virtual printer for trying it without hardware.")
    install(TARGETS nvlogo nvlogo-printer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

    # The manual pages come from the programs' own --help, so they are made after the programs.
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    set(man_pages)
    foreach(program nvlogo nvlogo-printer)
        set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
        set(extra ${PROJECT_SOURCE_DIR}/packaging/man/${program}.extra)
        add_custom_command(OUTPUT ${page}.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
            COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/packaging/make_manpage.py
                    $<TARGET_FILE:${program}> ${program} ${page} ${PROJECT_VERSION} ${TESSERA_RELEASE_DATE} ${extra}
            COMMAND gzip -9nf ${page}
            DEPENDS ${program} ${PROJECT_SOURCE_DIR}/packaging/make_manpage.py ${extra}
            COMMENT "Manual page ${program}(1)")
        list(APPEND man_pages ${page}.gz)
    endforeach()
    add_custom_target(manpages ALL DEPENDS ${man_pages})
    install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

    # bash loads a completion by the command's name, so the one script is installed under both names.
    foreach(program nvlogo nvlogo-printer)
        install(FILES ${PROJECT_SOURCE_DIR}/packaging/bash-completion/nvlogo
                DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${program})
    endforeach()
    file(GLOB udev_rules CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/udev/*.rules)
    install(FILES ${udev_rules} DESTINATION lib/udev/rules.d)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
            FILES_MATCHING PATTERN "*.bmp")
endif()

include(CPack)
