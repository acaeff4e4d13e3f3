# The Debian packages (cpack -G DEB in the build folder): one per component
# that this build installs. Read last, after every folder has set its
# install rules; each program's folder describes its package in its own
# package.cmake.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mirdel)
set(CPACK_PACKAGE_VENDOR "The Mirdel authors")
# The project has no mail address of its own: the maintainer is the project.
set(CPACK_PACKAGE_CONTACT "The Mirdel authors")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Mirdel authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SOURCE mirdel)
# Depends from the binaries themselves (dpkg-shlibdeps), stripped binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_COMPONENTS_ALL "")
foreach(dir cli desktop_qt)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${dir}/package.cmake)
    include(${PROJECT_SOURCE_DIR}/${dir}/package.cmake)
  endif()
endforeach()
include(CPack)
