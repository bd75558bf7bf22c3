# The file multicast library: one set of objects, built into the shared
# library Pelago.so that exports its classes, and into a static library of the
# same code for the tests.
add_library(pelago_obj OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/BlockWriter.cc
  ${CMAKE_CURRENT_LIST_DIR}/PacketQueueEntry.cc
  ${CMAKE_CURRENT_LIST_DIR}/PelagoEvent.cc
  ${CMAKE_CURRENT_LIST_DIR}/PelagoFile.cc
  ${CMAKE_CURRENT_LIST_DIR}/PelagoRecv.cc
  ${CMAKE_CURRENT_LIST_DIR}/PelagoSend.cc
  ${CMAKE_CURRENT_LIST_DIR}/PelagoSession.cc
  ${CMAKE_CURRENT_LIST_DIR}/RecvFile.cc
  ${CMAKE_CURRENT_LIST_DIR}/RecvFiles.cc
  ${CMAKE_CURRENT_LIST_DIR}/RecvPacketThread.cc
  ${CMAKE_CURRENT_LIST_DIR}/RecvThread.cc
  ${CMAKE_CURRENT_LIST_DIR}/SendFile.cc
  ${CMAKE_CURRENT_LIST_DIR}/SendStream.cc
  ${CMAKE_CURRENT_LIST_DIR}/SendThread.cc)
target_include_directories(pelago_obj PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(pelago_obj PUBLIC mcast_thread mcast fec ErrStuff platform)

add_library(pelago_core STATIC $<TARGET_OBJECTS:pelago_obj>)
target_link_libraries(pelago_core PUBLIC pelago_obj)

add_library(Pelago SHARED $<TARGET_OBJECTS:pelago_obj>)
set_target_properties(Pelago PROPERTIES OUTPUT_NAME Pelago PREFIX "")
target_include_directories(Pelago PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(Pelago PRIVATE mcast_thread mcast fec ErrStuff platform)
# Every symbol resolved inside the library (sanitizer runtimes come with the
# executable, so not in those builds).
if(NOT ORVALO_SANITIZE)
  target_link_options(Pelago PRIVATE -Wl,--no-undefined)
endif()
