# Korin's wire format, its shared arithmetic and the sender interfaces.
add_library(korin_wire STATIC ${CMAKE_CURRENT_LIST_DIR}/Wire.cc)
target_include_directories(korin_wire PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(korin_wire PUBLIC platform ErrStuff)
