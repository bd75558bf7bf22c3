# The registry stand-in (SQLite) and run-time loading of shared libraries.
find_package(SQLite3 REQUIRED)
add_library(registry STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Registry.cc
  ${CMAKE_CURRENT_LIST_DIR}/RegistryDb.cc
  ${CMAKE_CURRENT_LIST_DIR}/Module.cc)
target_link_libraries(registry PUBLIC platform PRIVATE SQLite::SQLite3 ${CMAKE_DL_LIBS})
# Kept out of the dynamic symbol tables, so that every module linking it keeps
# its own copy instead of binding to another module's.
set_target_properties(registry PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

add_executable(orvreg ${CMAKE_CURRENT_LIST_DIR}/tools/orvreg.cc)
target_link_libraries(orvreg PRIVATE registry)
