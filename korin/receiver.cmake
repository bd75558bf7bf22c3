# The Korin receiver: receive queue, FEC groups, NACK list and I/O thread.
add_library(korin_receiver STATIC
  ${CMAKE_CURRENT_LIST_DIR}/FECGroup.cc
  ${CMAKE_CURRENT_LIST_DIR}/KORINreceiver.cc
  ${CMAKE_CURRENT_LIST_DIR}/NACK.cc
  ${CMAKE_CURRENT_LIST_DIR}/NACKlist.cc
  ${CMAKE_CURRENT_LIST_DIR}/RcvrIOThread.cc
  ${CMAKE_CURRENT_LIST_DIR}/RecvQueue.cc
  ${CMAKE_CURRENT_LIST_DIR}/RecvReq.cc
  ${CMAKE_CURRENT_LIST_DIR}/RecvStats.cc)
target_include_directories(korin_receiver PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(korin_receiver PUBLIC korin_wire fec mcast ErrStuff platform)
if(ORVALO_FUZZ)
  # Coverage for the intake fuzzer's guidance.
  target_compile_options(korin_receiver PRIVATE -fsanitize=fuzzer-no-link)
endif()
