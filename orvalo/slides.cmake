# The slide protocol, the send queue, the defragmenter and temporary files.
add_library(orvalo_slides STATIC
  SlidePacket.cc
  PtsPacket.cc
  PacketAndInfo.cc
  TempFiles.cc
  SlideInserter.cc
  Defragger.cc
  PtsRequest.cc
  FileRequest.cc
  SlideQueue.cc)
target_include_directories(orvalo_slides PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(orvalo_slides PUBLIC platform mcast ErrStuff orvalo_cab)
