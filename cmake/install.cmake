# What `cmake --install` puts under the prefix: the filter and its companion
# libraries side by side in the library folder (the filter finds them
# there), fpxconv and fpxwrite, the public headers under include/kxfpx/, the
# manual page and kxfpx.pc. Everything is found through relative paths, so
# the installed tree can be moved (or installed with --prefix) as a whole.
set(_kx_libs kx_fpx2 yt_ut qe_core)
if(TARGET zo_unx2)
  list(APPEND _kx_libs zo_unx2)
endif()
install(TARGETS ${_kx_libs} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# fpxwrite links the two family libraries; it finds them from bin/.
file(RELATIVE_PATH _kx_lib_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set(_kx_programs fpxconv)
if(TARGET fpxwrite)
  set_target_properties(fpxwrite PROPERTIES INSTALL_RPATH "\$ORIGIN/${_kx_lib_from_bin}")
  list(APPEND _kx_programs fpxwrite)
endif()
install(TARGETS ${_kx_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/kxfpx DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")
install(FILES ${CMAKE_SOURCE_DIR}/host/fpxconv.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# kxfpx.pc names the prefix relative to its own folder (${pcfiledir}).
set(_kx_pc_dir ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH _kx_prefix_from_pc ${_kx_pc_dir} ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" KXFPX_PC_PREFIX "\${pcfiledir}/${_kx_prefix_from_pc}")
file(RELATIVE_PATH KXFPX_PC_LIBDIR ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH KXFPX_PC_INCLUDEDIR ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_INCLUDEDIR})
set(KXFPX_PC_LIBS "")
foreach(_lib ${CMAKE_DL_LIBS})
  string(APPEND KXFPX_PC_LIBS " -l${_lib}")
endforeach()
string(STRIP "${KXFPX_PC_LIBS}" KXFPX_PC_LIBS)
configure_file(${CMAKE_SOURCE_DIR}/cmake/kxfpx.pc.in ${CMAKE_BINARY_DIR}/kxfpx.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/kxfpx.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
