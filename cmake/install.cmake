# Installation. zu reads its font and knob picture from the working directory, so
# the program goes to lib/zu, its files to share/zu, and bin/zu is a launcher that
# changes to share/zu first; it finds both from its own place, so the tree works
# wherever it is installed or unpacked. The desktop entry names the launcher under
# the prefix given at install time (cmake --install <build> --prefix <P>).
set(ZU_DIST ${CMAKE_SOURCE_DIR}/dist)
set(ZU_DIST_OUT ${CMAKE_BINARY_DIR}/dist)
file(MAKE_DIRECTORY ${ZU_DIST_OUT})
# Every file belongs to the component zu: the package installs that component
# alone, which keeps its staging install out of install_manifest.txt.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME zu)

find_package(Python3 COMPONENTS Interpreter REQUIRED)
add_custom_command(
  OUTPUT ${ZU_DIST_OUT}/zu.png
  COMMAND Python3::Interpreter ${ZU_DIST}/make_icon.py ${CMAKE_SOURCE_DIR}/assets/dial.bmp
          ${ZU_DIST_OUT}/zu.png
  DEPENDS ${ZU_DIST}/make_icon.py ${CMAKE_SOURCE_DIR}/assets/dial.bmp
  COMMENT "Drawing the icon from the knob picture")
add_custom_target(zu_icon ALL DEPENDS ${ZU_DIST_OUT}/zu.png)

# The manual page and the changelog are installed compressed, as Debian wants them.
foreach(doc zu.1 changelog)
  add_custom_command(
    OUTPUT ${ZU_DIST_OUT}/${doc}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${ZU_DIST}/${doc} ${ZU_DIST_OUT}/${doc}
    COMMAND gzip -9nf ${ZU_DIST_OUT}/${doc}
    DEPENDS ${ZU_DIST}/${doc}
    COMMENT "Compressing ${doc}")
endforeach()
add_custom_target(zu_docs ALL DEPENDS ${ZU_DIST_OUT}/zu.1.gz ${ZU_DIST_OUT}/changelog.gz)

install(TARGETS zu RUNTIME DESTINATION lib/zu)
# A stripping install (the package's, or cmake --install --strip) also drops the
# compilers' notes in .comment, as Debian strips its own programs.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/zu/zu\"
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR \"Could not strip the .comment section of lib/zu/zu\")
    endif()
  endif()
")
install(FILES ${CMAKE_SOURCE_DIR}/assets/8bitOperatorPlus8-Regular.ttf
              ${CMAKE_SOURCE_DIR}/assets/dial.bmp
        DESTINATION share/zu)
install(FILES ${CMAKE_SOURCE_DIR}/assets/FONT-LICENSE.txt ${ZU_DIST}/copyright
              ${ZU_DIST_OUT}/changelog.gz
        DESTINATION share/doc/zu)
install(FILES ${ZU_DIST_OUT}/zu.png DESTINATION share/icons/hicolor/64x64/apps)
# Software centres read the AppStream entry; it and the desktop entry share one id.
set(ZU_APP_ID io.github.zu_midi.zu)
install(FILES ${ZU_DIST}/${ZU_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${ZU_DIST_OUT}/zu.1.gz DESTINATION share/man/man1)
install(PROGRAMS ${ZU_DIST}/zu-launcher DESTINATION bin RENAME zu)

# The prefix is known only when installing: fill the desktop entry in then, in a
# folder of its own per prefix so that installs into different prefixes (a test
# and a package, say) never write the same file.
install(CODE "
  set(ZU_LAUNCHER \"\${CMAKE_INSTALL_PREFIX}/bin/zu\")
  string(MD5 zu_prefix_id \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  set(zu_entry \"${ZU_DIST_OUT}/desktop-\${zu_prefix_id}/${ZU_APP_ID}.desktop\")
  configure_file(\"${ZU_DIST}/${ZU_APP_ID}.desktop\" \"\${zu_entry}\" @ONLY)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/share/applications\" TYPE FILE
       FILES \"\${zu_entry}\")
")

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
