# The cabinet wrappers over libgcab.
find_package(PkgConfig REQUIRED)
pkg_check_modules(GCAB REQUIRED IMPORTED_TARGET libgcab-1.0)
add_library(orvalo_cab STATIC
  CabinetCompress.cc
  CabinetExtract.cc
  CabinetNames.cc)
target_include_directories(orvalo_cab PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(orvalo_cab PUBLIC platform ErrStuff PRIVATE PkgConfig::GCAB)
