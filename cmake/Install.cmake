# What `cmake --install` puts in place and what CPack wraps into a .deb: the two programs, the
# desktop entry, the icon, the sprite file and archive types, the thumbnailer and kivtool's
# manual page.

include(GNUInstallDirs)

set(KIV_DIST ${PROJECT_SOURCE_DIR}/dist/linux)
set(KIV_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/kiv-utilities)

if(KIV_BUILD_UI)
    install(TARGETS Kivutil RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    set(kivutilman ${CMAKE_BINARY_DIR}/man/Kivutil.1.gz)
    add_custom_command(OUTPUT ${kivutilman}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND gzip -9nc ${KIV_DIST}/Kivutil.1 > ${kivutilman}
        DEPENDS ${KIV_DIST}/Kivutil.1 VERBATIM)
    add_custom_target(kivutilman ALL DEPENDS ${kivutilman})
    install(FILES ${kivutilman} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${KIV_DIST}/kivutil.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
    install(FILES ${KIV_DIST}/kivutil.svg
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)

    # The PNG sizes are drawn from the SVG at build time.
    find_program(KIV_RSVG_CONVERT rsvg-convert)
    if(KIV_RSVG_CONVERT)
        set(icons)
        foreach(size 16 24 32 48 64 128 256)
            set(png ${CMAKE_BINARY_DIR}/icons/${size}/kivutil.png)
            add_custom_command(OUTPUT ${png}
                COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}
                COMMAND ${KIV_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${KIV_DIST}/kivutil.svg
                DEPENDS ${KIV_DIST}/kivutil.svg VERBATIM)
            list(APPEND icons ${png})
            install(FILES ${png}
                    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps)
        endforeach()
        add_custom_target(kivicons ALL DEPENDS ${icons})
    else()
        message(STATUS "rsvg-convert not found: only the SVG icon is installed")
    endif()
endif()

# The file types of sprite files and archives, which the windows open and kivtool draws.
install(FILES ${KIV_DIST}/kivutil-mime.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages
        RENAME kivutil.xml)

if(KIV_BUILD_TOOLS)
    install(TARGETS kivtool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    # File managers draw each sprite file and archive through `kivtool thumbnail`.
    install(FILES ${KIV_DIST}/kivutil.thumbnailer
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/thumbnailers)

    # The manual page is made from the help kivtool prints (every command's), so the two
    # never differ.
    find_program(KIV_HELP2MAN help2man)
    if(KIV_HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
        set(man ${CMAKE_BINARY_DIR}/man/kivtool.1)
        add_custom_command(OUTPUT ${man}.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
            COMMAND ${KIV_HELP2MAN} --no-info --section=1 --help-option=--help-all
                    "--name=sprite data archive and S16 sprite file tool"
                    --output=${man} $<TARGET_FILE:kivtool>
            COMMAND gzip -9nf ${man}
            DEPENDS kivtool VERBATIM)
        add_custom_target(kivtoolman ALL DEPENDS ${man}.gz)
        install(FILES ${man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    else()
        message(STATUS "help2man not found: kivtool's manual page is not made")
    endif()
endif()

# Debian's places for the package's history and terms.
set(changelog ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${changelog}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
    COMMAND gzip -9nc ${KIV_DIST}/changelog > ${changelog}
    DEPENDS ${KIV_DIST}/changelog VERBATIM)
add_custom_target(kivdoc ALL DEPENDS ${changelog})
install(FILES ${changelog} ${KIV_DIST}/copyright DESTINATION ${KIV_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kiv-utilities)
set(CPACK_PACKAGE_VENDOR "Kiv Utilities maintainers")
set(CPACK_PACKAGE_CONTACT "Kiv Utilities maintainers <maintainers@kiv-utilities.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "browser and editor for a game's sprite data archive")
set(CPACK_PACKAGE_DESCRIPTION
    "Kiv Utilities lists the members of a game's sprite data archive, shows\n\
their icon headers and icons, extracts members, tests the archive for\n\
damaged members and rebuilds it with one member replaced. Its sprite\n\
editor shows the icons of S16 and S17 sprite files, exports them as\n\
bitmaps and re-encodes edited bitmaps. kivtool does the same from the\n\
command line.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies are the shared libraries the programs link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)
