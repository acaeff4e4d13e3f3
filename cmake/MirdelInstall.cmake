# Helpers for the install rules that each program's folder writes beside
# itself: the manual page made from the program's --help and --version.
include(GNUInstallDirs)

# The release's date from the changelog's first entry, so that the packages
# say the same date whenever they are built. Its version must be the
# project's: the packages and the software centre take both from here.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog mirdel_changelog LIMIT_COUNT 40)
list(GET mirdel_changelog 0 mirdel_changelog_head)
list(FILTER mirdel_changelog INCLUDE REGEX "^ -- ")
list(GET mirdel_changelog 0 mirdel_changelog_trailer)
if(NOT mirdel_changelog_head MATCHES "^mirdel \\(${PROJECT_VERSION}\\)")
  message(FATAL_ERROR "packaging/changelog does not begin with version ${PROJECT_VERSION}")
endif()
if(NOT mirdel_changelog_trailer MATCHES ", ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "packaging/changelog: no date in '${mirdel_changelog_trailer}'")
endif()
set(mirdel_day ${CMAKE_MATCH_1})
set(mirdel_year ${CMAKE_MATCH_3})
set(mirdel_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND mirdel_months ${CMAKE_MATCH_2} mirdel_month)
if(mirdel_month LESS 0)
  message(FATAL_ERROR "packaging/changelog: no month in '${mirdel_changelog_trailer}'")
endif()
math(EXPR mirdel_month "${mirdel_month} + 1" OUTPUT_FORMAT DECIMAL)
if(mirdel_month LESS 10)
  set(mirdel_month 0${mirdel_month})
endif()
set(MIRDEL_RELEASE_DATE ${mirdel_year}-${mirdel_month}-${mirdel_day})
# The manual pages' date: SOURCE_DATE_EPOCH when the build sets it (Debian's
# package builds take it from the changelog too), else the release's.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  string(TIMESTAMP MIRDEL_MAN_DATE "%Y-%m-%d" UTC)
else()
  set(MIRDEL_MAN_DATE ${MIRDEL_RELEASE_DATE})
endif()

# mirdel_man_page(TARGET SUMMARY COMPONENT): NAME.1.gz built from the
# target's own help and packaging/man/TARGET.txt (the sections the help has
# no room for: files, permissions, related pages), installed in section 1
# with that component.
function(mirdel_man_page target summary component)
  if(NOT TARGET help2roff)
    return()
  endif()
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${target}.1)
  set(sections ${PROJECT_SOURCE_DIR}/packaging/man/${target}.txt)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:help2roff> --date ${MIRDEL_MAN_DATE} --sections ${sections}
            $<TARGET_FILE:${target}> ${target} ${summary} ${page}
    COMMAND gzip -9nf ${page}
    DEPENDS ${target} help2roff ${sections}
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
