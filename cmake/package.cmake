# The Debian package: cmake --build <build> --target package (not part of the
# default build) installs into a staging tree under /usr and packs it into
# zu_<version>_<arch>.deb. Its Depends come from dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zu)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "zu developers <zu@zu.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MIDI controller that moves by chance, with MIDI learn")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "zu sends a MIDI Control Change from a small window. Each trigger, a key, a
mouse click or a pad on a hardware controller, either keeps the value or jumps
to a random one between MIN and MAX; an inertia knob sets how often it jumps.
With MIDI learn its knobs and its trigger can be paired with the knobs and pads
of a hardware controller and played from there. It works with the ALSA
sequencer, JACK and PipeWire.")
# MIT; a Debian package has no licence field, its copyright file (dist/copyright) says it.
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Install with DESTDIR, so that what the install fills in (the desktop entry)
# names /usr and not the staging tree.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Only the component zu (every file, see install.cmake): installing a component
# writes install_manifest_zu.txt, so the manifest of the last cmake --install,
# which uninstall reads, stays as it was.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};zu;zu;/")
set(CPACK_STRIP_FILES ON)
include(CPack)
