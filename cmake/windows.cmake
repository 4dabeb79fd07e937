# The Windows build (cross-built with cmake/mingw-w64.cmake, see scripts/windows.sh):
# zu.exe is a program with a window and no console, carries its version and icon, and
# cmake --build <build> --target zu_zip packs zu-VERSION-windows-x64.zip.

# SDL's pkg-config file makes every program a window program; only zu is one, the
# tests keep their console.
foreach(lib SDL2 SDL2_TTF)
  foreach(property INTERFACE_LINK_OPTIONS INTERFACE_LINK_LIBRARIES)
    get_target_property(items PkgConfig::${lib} ${property})
    if(items)
      list(REMOVE_ITEM items -mwindows)
      set_target_properties(PkgConfig::${lib} PROPERTIES ${property} "${items}")
    endif()
  endforeach()
endforeach()
set_target_properties(zu PROPERTIES WIN32_EXECUTABLE ON)

# Version and icon in the file's properties; the icon is drawn from the knob picture.
enable_language(RC)
find_package(Python3 COMPONENTS Interpreter REQUIRED)
set(ZU_ICO ${CMAKE_BINARY_DIR}/zu.ico)
add_custom_command(
  OUTPUT ${ZU_ICO}
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/dist/make_icon.py
          ${CMAKE_SOURCE_DIR}/assets/dial.bmp ${ZU_ICO}
  DEPENDS ${CMAKE_SOURCE_DIR}/dist/make_icon.py ${CMAKE_SOURCE_DIR}/assets/dial.bmp
  COMMENT "Drawing the Windows icon from the knob picture")
configure_file(${CMAKE_SOURCE_DIR}/dist/windows/zu.rc.in ${CMAKE_BINARY_DIR}/zu.rc @ONLY)
target_sources(zu PRIVATE ${CMAKE_BINARY_DIR}/zu.rc)
set_source_files_properties(${CMAKE_BINARY_DIR}/zu.rc PROPERTIES OBJECT_DEPENDS ${ZU_ICO})

# The zip: the stripped program, its two files, the README for Windows and every
# licence of what is inside (zu's, the font's, and those of the libraries linked in,
# which scripts/windows.sh keeps in ZU_WINDOWS_DEPS/licenses).
set(ZU_ZIP_NAME zu-${PROJECT_VERSION}-windows-x64)
set(ZU_ZIP_DIR ${CMAKE_BINARY_DIR}/${ZU_ZIP_NAME})
set(ZU_ZIP ${CMAKE_BINARY_DIR}/${ZU_ZIP_NAME}.zip)
file(GLOB ZU_LIB_LICENSES ${ZU_WINDOWS_DEPS}/licenses/*)
add_custom_command(
  OUTPUT ${ZU_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${ZU_ZIP_DIR} ${ZU_ZIP}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZU_ZIP_DIR}/licenses
  COMMAND ${CMAKE_STRIP} -o ${ZU_ZIP_DIR}/zu.exe $<TARGET_FILE:zu>
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/assets/8bitOperatorPlus8-Regular.ttf
          ${CMAKE_SOURCE_DIR}/assets/dial.bmp ${ZU_ZIP_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/dist/windows/README.txt ${ZU_ZIP_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/LICENSE ${ZU_ZIP_DIR}/LICENSE.txt
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/assets/FONT-LICENSE.txt
          ${ZU_LIB_LICENSES} ${ZU_ZIP_DIR}/licenses
  COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR} zip -qrX9 ${ZU_ZIP} ${ZU_ZIP_NAME}
  DEPENDS zu ${CMAKE_SOURCE_DIR}/dist/windows/README.txt ${CMAKE_SOURCE_DIR}/LICENSE
  COMMENT "Packing ${ZU_ZIP_NAME}.zip")
add_custom_target(zu_zip DEPENDS ${ZU_ZIP})
