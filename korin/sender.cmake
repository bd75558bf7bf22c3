# The Korin sender: send queue, I/O thread, repair cache and epoch sender.
set(korin_sender_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(korin_sender STATIC
  ${korin_sender_dir}/CacheEntry.cc
  ${korin_sender_dir}/CacheResendList.cc
  ${korin_sender_dir}/EpochSender.cc
  ${korin_sender_dir}/KORINsender.cc
  ${korin_sender_dir}/NackIntake.cc
  ${korin_sender_dir}/SendQueue.cc
  ${korin_sender_dir}/SndrIOThread.cc)
target_include_directories(korin_sender PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(korin_sender PUBLIC korin_wire mcast fec platform ErrStuff)
