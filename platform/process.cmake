# Starting programs and waiting for them; part of the shared base library.
target_sources(platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/Process.cc)
