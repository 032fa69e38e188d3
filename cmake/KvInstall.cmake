# cmake --install: the package as an application uses it.
#   include/korvel/            the units' headers and the framework's (framework/...)
#   lib/                       the static libraries
#   lib/korvel/objects-<config>/kvresources/
#                              the resources' object (movies, skins, palette
#                              bitmaps), linked whole into the application
#   lib/cmake/Korvel/          KorvelConfig.cmake, its version file and targets
#   bin/kvrender.exe           the command-line renderer
#   bin/npswf32.dll, bin/Flash.ocx
#                              the reference Flash Player (plug-in library and
#                              control), for machines without Flash Player
#   share/doc/korvel_flash/third-party/
#                              the notices of what the reference player embeds
# find_package(Korvel 0.2 CONFIG REQUIRED) then gives Korvel::korvel, which
# carries the framework, the system libraries and the resources.
# KV_INSTALL is declared in the top-level CMakeLists.txt.
if(NOT KV_WINDOWS OR NOT KV_INSTALL OR NOT TARGET korvel)
  return()
endif()

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(kv_install_includedir ${CMAKE_INSTALL_INCLUDEDIR}/korvel)
set(kv_install_cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/Korvel)

# Everything the package target links, in one export set.
set(kv_package_targets
  korvel kvcore kvportable kvframework_rtl kvframework
  kvnetscape kvnsportable kv_npapi
  kvactivex kvaxportable kv_flashocx
  kvlayer kvdesign)
foreach(t IN LISTS kv_package_targets)
  target_include_directories(${t} INTERFACE $<INSTALL_INTERFACE:${kv_install_includedir}>)
endforeach()
# The headers are written for the Unicode API and without the min/max macros,
# as the package itself is built.
target_compile_definitions(kvframework_rtl INTERFACE $<INSTALL_INTERFACE:UNICODE;_UNICODE;NOMINMAX>)
# A resource inside a static library is dropped at link, so the installed
# package hands its resource object to every program that links it, as the
# build tree does (core/CMakeLists.txt).
target_link_libraries(korvel INTERFACE "$<INSTALL_INTERFACE:$<TARGET_OBJECTS:Korvel::kvresources>>")

install(TARGETS ${kv_package_targets} EXPORT KorvelTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS kvresources EXPORT KorvelTargets
  OBJECTS DESTINATION ${CMAKE_INSTALL_LIBDIR}/korvel)

# The units' headers (not the back-ends' internal ones) and the framework's.
set(kv_public_headers
  core/kv_alpha.h core/kv_boundary.h core/kv_driver.h core/kv_flashplayer.h core/kv_flashstore.h
  core/kv_hostfiles.h core/kv_owners.h core/kv_package.h core/kv_pendingstreams.h core/kv_pixels.h
  core/kv_urltext.h
  layer/kv_layer.h
  design/kv_flashreg.h
  drivers/netscape/kv_driver_netscape.h drivers/netscape/kv_nsscript.h
  drivers/activex/kv_driver_activex.h drivers/activex/kv_axurls.h)
list(TRANSFORM kv_public_headers PREPEND ${PROJECT_SOURCE_DIR}/)
install(FILES ${kv_public_headers} ${CMAKE_BINARY_DIR}/drivers/activex/contract/kv_flashocx.h
  DESTINATION ${kv_install_includedir})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/drivers/netscape/npapi/ DESTINATION ${kv_install_includedir}/npapi
  FILES_MATCHING PATTERN "*.h")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/framework/include/framework/ DESTINATION ${kv_install_includedir}/framework
  FILES_MATCHING PATTERN "*.h")

# kvrender, the command-line renderer built on the off-screen player.
if(TARGET kvrender)
  install(TARGETS kvrender RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The reference player: its plug-in library is found beside a program (as
# kvrender's is, here), its control once registered with regsvr32. Only the
# binaries: nothing links against them. It draws device text in a font it
# embeds, whose licence asks that its notice go with every copy.
foreach(player npswf32 refcontrol)
  if(TARGET ${player})
    install(FILES $<TARGET_FILE:${player}> DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT refplayer)
  endif()
endforeach()
if(TARGET npswf32 OR TARGET refcontrol)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/third-party/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/third-party
    COMPONENT refplayer)
endif()

install(EXPORT KorvelTargets NAMESPACE Korvel:: DESTINATION ${kv_install_cmakedir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KorvelConfig.cmake.in
  ${CMAKE_BINARY_DIR}/KorvelConfig.cmake
  INSTALL_DESTINATION ${kv_install_cmakedir})
# 0.x: a newer minor version may change the interface. The version file also
# refuses a package built for the other pointer size.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/KorvelConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/KorvelConfig.cmake ${CMAKE_BINARY_DIR}/KorvelConfigVersion.cmake
  DESTINATION ${kv_install_cmakedir})
