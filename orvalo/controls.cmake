# The live command strings of the presenter control.
add_library(orvalo_command STATIC ${CMAKE_CURRENT_LIST_DIR}/orvaloCommand.cc)
target_include_directories(orvalo_command PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(orvalo_command PUBLIC ErrStuff platform)

