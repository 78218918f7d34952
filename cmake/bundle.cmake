# The plug-in folder a host installs: build/<preset>/com.brelvon.multiview.pxPlugin/ holds the executable,
# manifest.json (configured from bundle/manifest.json.in) and a copy of everything else under bundle/. Rebuilt
# with every build; the Windows build also packs it as a zip beside it.

set(PNX_BUNDLE_NAME com.brelvon.multiview.pxPlugin)
set(PNX_BUNDLE_DIR ${CMAKE_BINARY_DIR}/${PNX_BUNDLE_NAME})
set(PNX_BUNDLE_SOURCE ${CMAKE_SOURCE_DIR}/bundle)

configure_file(${PNX_BUNDLE_SOURCE}/manifest.json.in ${PNX_BUNDLE_DIR}/manifest.json @ONLY)

# Any file added under bundle/ arrives without a change here (CONFIGURE_DEPENDS notices new files).
file(GLOB_RECURSE bundle_files CONFIGURE_DEPENDS RELATIVE ${PNX_BUNDLE_SOURCE} ${PNX_BUNDLE_SOURCE}/*)
list(FILTER bundle_files EXCLUDE REGEX "(^|/)(manifest\\.json\\.in|CMakeLists\\.txt|[^/]*\\.cmake)$")
list(SORT bundle_files)
set(bundle_outputs ${PNX_BUNDLE_DIR}/manifest.json)
foreach(file ${bundle_files})
  add_custom_command(OUTPUT ${PNX_BUNDLE_DIR}/${file}
                     COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PNX_BUNDLE_SOURCE}/${file}
                             ${PNX_BUNDLE_DIR}/${file}
                     DEPENDS ${PNX_BUNDLE_SOURCE}/${file}
                     VERBATIM)
  list(APPEND bundle_outputs ${PNX_BUNDLE_DIR}/${file})
endforeach()

# The executable stays at the top of the build folder too; the copy inside is the one a host starts.
set(bundle_executable ${PNX_BUNDLE_DIR}/BrelvonMultiview${CMAKE_EXECUTABLE_SUFFIX})
add_custom_command(OUTPUT ${bundle_executable}
                   COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:BrelvonMultiview> ${bundle_executable}
                   DEPENDS BrelvonMultiview
                   VERBATIM)
list(APPEND bundle_outputs ${bundle_executable})

add_custom_target(pnx_bundle ALL DEPENDS ${bundle_outputs})

if(WIN32)
  set(bundle_zip ${CMAKE_BINARY_DIR}/${PNX_BUNDLE_NAME}.zip)
  add_custom_command(OUTPUT ${bundle_zip}
                     COMMAND ${CMAKE_COMMAND} -E rm -f ${bundle_zip}
                     COMMAND ${CMAKE_COMMAND} -E tar cf ${bundle_zip} --format=zip ${PNX_BUNDLE_NAME}
                     WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
                     DEPENDS ${bundle_outputs}
                     VERBATIM)
  add_custom_target(pnx_bundle_zip ALL DEPENDS ${bundle_zip})
  add_dependencies(pnx_bundle_zip pnx_bundle)
endif()
