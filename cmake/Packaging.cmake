# Installing on Linux: the desktop's files beside the two programs (the
# folders that build them install them), and a Debian package of it all by
# CPack: cd build && cpack -G DEB.
if(NOT TERRALUME_GUI OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

set(terralume_app_id org.example.terralume)

# The installed programs resolve every symbol at start, so that their
# relocation tables can be read-only from then on.
foreach(program terralume terralume-render)
  target_link_options(${program} PRIVATE LINKER:-z,relro LINKER:-z,now)
endforeach()
set(terralume_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/terralume)

# The package's changelog and the AppStream releases are kept by hand; a
# version bumped in one place only would ship a package that names two
# versions, so the configure step refuses it.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog changelog_top LIMIT_COUNT 1)
string(REGEX MATCH "^terralume \\(([^)]+)\\)" _ "${changelog_top}")
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/debian/changelog starts at version '${CMAKE_MATCH_1}', "
                      "the project is ${PROJECT_VERSION}: add an entry for it")
endif()
file(READ ${PROJECT_SOURCE_DIR}/desktop/${terralume_app_id}.metainfo.xml metainfo)
string(REGEX MATCH "<release version=\"([^\"]+)\"" _ "${metainfo}")
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "the newest release in desktop/${terralume_app_id}.metainfo.xml is '${CMAKE_MATCH_1}', "
                      "the project is ${PROJECT_VERSION}: add a release for it")
endif()

# Debian ships manual pages and changelogs compressed, without a time stamp
# so that the package is the same from one build to the next.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(packaging_out ${CMAKE_CURRENT_BINARY_DIR}/packaging)
set(compressed)
foreach(source man/terralume.1 man/terralume-render.1 packaging/debian/changelog)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${packaging_out}/${name}.gz
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${packaging_out}
                     COMMAND sh -c "\"$0\" -9n -c \"$1\" > \"$2\"" ${GZIP_PROGRAM}
                             ${PROJECT_SOURCE_DIR}/${source} ${packaging_out}/${name}.gz
                     DEPENDS ${PROJECT_SOURCE_DIR}/${source}
                     VERBATIM)
  list(APPEND compressed ${packaging_out}/${name}.gz)
endforeach()
add_custom_target(terralume_compressed_docs ALL DEPENDS ${compressed})

install(FILES ${packaging_out}/terralume.1.gz ${packaging_out}/terralume-render.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/desktop/${terralume_app_id}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${packaging_out}/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
        DESTINATION ${terralume_doc_dir})
# Lists the help pages in the system's documentation browsers.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/doc-base
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc-base RENAME terralume)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME terralume)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Terralume maintainers")
set(CPACK_PACKAGE_CONTACT "Terralume maintainers <maintainers@terralume.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "random world map generator")
set(CPACK_PACKAGE_DESCRIPTION
    "Terralume generates random world maps. Pick a size, a numeric seed, a water
level, a heat level and a title, press Generate, and a world framed by sea
appears: blue seas lightening towards the shore, a black coastline, green
lowland and grey-to-white upland. The same seed and settings always give the
same world, on every machine.

Maps can be zoomed, printed with a footer that records their settings, and
saved as PNG pictures that record their world or as PDF pages. The command
terralume-render makes the same maps without a window.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://terralume.example.org")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The printed page is laid out in Arial's measures, which Liberation Sans
# keeps; printing itself needs a CUPS scheduler somewhere.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cups")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
