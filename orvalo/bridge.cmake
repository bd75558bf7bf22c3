# The message bridge onto PowerPoint's thread.
add_library(orvalo_bridge STATIC PPTMsgComm.cc)
target_include_directories(orvalo_bridge PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(orvalo_bridge PUBLIC platform mcast ErrStuff ui orvalo_slides)
