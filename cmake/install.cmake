# Installation. zu reads its font and knob picture from the working directory, so
# the program goes to lib/zu, its files to share/zu, and bin/zu is a launcher that
# changes to share/zu first. The launcher and the desktop entry name the prefix
# given at install time (cmake --install <build> --prefix <P>).
set(ZU_DIST ${CMAKE_SOURCE_DIR}/dist)
set(ZU_DIST_OUT ${CMAKE_BINARY_DIR}/dist)

find_package(Python3 COMPONENTS Interpreter REQUIRED)
add_custom_command(
  OUTPUT ${ZU_DIST_OUT}/zu.png
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZU_DIST_OUT}
  COMMAND Python3::Interpreter ${ZU_DIST}/make_icon.py ${CMAKE_SOURCE_DIR}/assets/dial.bmp
          ${ZU_DIST_OUT}/zu.png
  DEPENDS ${ZU_DIST}/make_icon.py ${CMAKE_SOURCE_DIR}/assets/dial.bmp
  COMMENT "Drawing the icon from the knob picture")
add_custom_target(zu_icon ALL DEPENDS ${ZU_DIST_OUT}/zu.png)

install(TARGETS zu RUNTIME DESTINATION lib/zu)
install(FILES ${CMAKE_SOURCE_DIR}/assets/8bitOperatorPlus8-Regular.ttf
              ${CMAKE_SOURCE_DIR}/assets/dial.bmp
        DESTINATION share/zu)
install(FILES ${CMAKE_SOURCE_DIR}/assets/FONT-LICENSE.txt DESTINATION share/doc/zu)
install(FILES ${ZU_DIST_OUT}/zu.png DESTINATION share/icons/hicolor/64x64/apps)

# The prefix is known only when installing: fill the templates in then.
install(CODE "
  set(ZU_DATA_DIR \"\${CMAKE_INSTALL_PREFIX}/share/zu\")
  set(ZU_PROGRAM \"\${CMAKE_INSTALL_PREFIX}/lib/zu/zu\")
  set(ZU_LAUNCHER \"\${CMAKE_INSTALL_PREFIX}/bin/zu\")
  configure_file(\"${ZU_DIST}/zu-launcher.in\" \"${ZU_DIST_OUT}/zu-launcher\" @ONLY)
  configure_file(\"${ZU_DIST}/zu.desktop\" \"${ZU_DIST_OUT}/zu.desktop\" @ONLY)
")
install(PROGRAMS ${ZU_DIST_OUT}/zu-launcher DESTINATION bin RENAME zu)
install(FILES ${ZU_DIST_OUT}/zu.desktop DESTINATION share/applications)

# Removal: cmake --build <build> --target uninstall takes away what the last
# install into that build's prefix put there (listed in install_manifest.txt).
file(WRITE ${CMAKE_BINARY_DIR}/zu_uninstall.cmake [=[
if(NOT MANIFEST)
  set(MANIFEST "${CMAKE_CURRENT_LIST_DIR}/install_manifest.txt")
endif()
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "Nothing to remove: ${MANIFEST} does not exist (install first)")
endif()
file(STRINGS "${MANIFEST}" files)
set(dirs)
foreach(f IN LISTS files)
  if(EXISTS "$ENV{DESTDIR}${f}" OR IS_SYMLINK "$ENV{DESTDIR}${f}")
    message(STATUS "Removing $ENV{DESTDIR}${f}")
    file(REMOVE "$ENV{DESTDIR}${f}")
  endif()
  get_filename_component(d "${f}" DIRECTORY)
  get_filename_component(name "${d}" NAME)
  if(name STREQUAL "zu")
    list(APPEND dirs "${d}")
  endif()
endforeach()
# Only zu's own folders go; shared ones (bin, share/applications) stay.
list(REMOVE_DUPLICATES dirs)
foreach(d IN LISTS dirs)
  file(GLOB left "$ENV{DESTDIR}${d}/*")
  if(NOT left)
    file(REMOVE_RECURSE "$ENV{DESTDIR}${d}")
  endif()
endforeach()
]=])
add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -P ${CMAKE_BINARY_DIR}/zu_uninstall.cmake
  COMMENT "Removing the installed files")
