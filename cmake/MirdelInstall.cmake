# Helpers for the install rules that each program's folder writes beside
# itself: the manual page made from the program's --help and --version.
include(GNUInstallDirs)

# mirdel_man_page(TARGET SUMMARY COMPONENT): NAME.1.gz built from the
# target's own help and installed in section 1 with that component.
function(mirdel_man_page target summary component)
  if(NOT TARGET help2roff)
    return()
  endif()
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${target}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:help2roff> $<TARGET_FILE:${target}> ${target} ${summary} ${page}
    COMMAND gzip -9nf ${page}
    DEPENDS ${target} help2roff
    COMMENT "Manual page ${target}(1)"
    VERBATIM)
  add_custom_target(${target}_man ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

# mirdel_package_docs(PACKAGE COMPONENT): the Debian documents every package
# carries (copyright, changelog) and the package's lintian overrides, when
# PACKAGE.lintian-overrides lies in the calling folder.
function(mirdel_package_docs package component)
  if(WIN32)
    return()
  endif()
  set(doc ${CMAKE_INSTALL_DATADIR}/doc/${package})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${doc} COMPONENT ${component})
  install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${doc} COMPONENT ${component})
  set(overrides ${CMAKE_CURRENT_SOURCE_DIR}/${package}.lintian-overrides)
  if(EXISTS ${overrides})
    install(FILES ${overrides} DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
      RENAME ${package} COMPONENT ${component})
  endif()
endfunction()
