# The release archive of the Windows build: the programs, the README and the
# licence, in a ZIP whose name carries the version (cpack -G ZIP).
install(TARGETS VendraFwUpgrade VendraFwUnitInfo RUNTIME DESTINATION .)
if(TARGET VendraFwWebPackage)
  install(TARGETS VendraFwWebPackage RUNTIME DESTINATION .)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME VendraFwUpgrade)
set(CPACK_PACKAGE_VENDOR "VendraFwUpgrade developers")
set(CPACK_PACKAGE_FILE_NAME VendraFwUpgrade-${PROJECT_VERSION}-win64)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
include(CPack)
