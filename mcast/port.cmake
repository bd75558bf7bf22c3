# The multicast port: sockets, rate limiter and simulated loss.
target_sources(mcast PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Multicast.cc
  ${CMAKE_CURRENT_LIST_DIR}/MulticastAddr.cc
  ${CMAKE_CURRENT_LIST_DIR}/MulticastWait.cc
  ${CMAKE_CURRENT_LIST_DIR}/RateLimiter.cc
  ${CMAKE_CURRENT_LIST_DIR}/SimLoss.cc)
