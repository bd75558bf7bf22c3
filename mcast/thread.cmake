# The worker-thread base and the waitable queue of the file multicast library.
add_library(mcast_thread STATIC xThread.cc)
target_include_directories(mcast_thread PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(mcast_thread PUBLIC mcast platform)
