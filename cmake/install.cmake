# `cmake --install build --prefix DIR` puts the programs and the picture and
# export commands into DIR/bin, the example case into DIR/share/plume/examples
# and the documents into DIR/share/doc/plume.
include(GNUInstallDirs)

install(TARGETS plume plume-trace RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS tools/plume-pictures tools/plume-vtk DESTINATION ${CMAKE_INSTALL_BINDIR})
# The commands find their shared reader in ../share/plume/python.
install(FILES tools/plume_results.py tools/plume_sweep_pictures.py DESTINATION ${CMAKE_INSTALL_DATADIR}/plume/python)
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/plume/examples
        PATTERN .gitkeep EXCLUDE)
# The user's guide with the documents it links to, the licence and the citation.
install(FILES README.md LICENSE CITATION.cff DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

