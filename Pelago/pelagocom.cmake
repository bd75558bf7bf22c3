# The COM objects "Pelago.PelagoSnd" and "Pelago.PelagoRcv" and the server
# exports, built into Pelago.so beside its exported classes.
target_sources(Pelago PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/PelagoModule.cc
  ${CMAKE_CURRENT_LIST_DIR}/PelagoRcvObj.cc
  ${CMAKE_CURRENT_LIST_DIR}/PelagoSndObj.cc)
# The runtime (its symbols hidden) gives each module its own lock count and
# module path; only the four exports of com/ServerExports.h are added.
target_link_libraries(Pelago PRIVATE com registry)
# Hidden by default, so that the runtime's inline code in these sources does
# not bind to another module's copy; their headers keep the engine's classes
# at default visibility (see the pragmas there).
set_source_files_properties(
  ${CMAKE_CURRENT_LIST_DIR}/PelagoModule.cc
  ${CMAKE_CURRENT_LIST_DIR}/PelagoRcvObj.cc
  ${CMAKE_CURRENT_LIST_DIR}/PelagoSndObj.cc
  PROPERTIES COMPILE_OPTIONS "-fvisibility=hidden;-fvisibility-inlines-hidden")
