# The automation helpers (show clock, HRESULT checks, text converters), used
# by COA and by the engines.
add_library(orvalo_oa STATIC OAHelpers.cc)
target_include_directories(orvalo_oa PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(orvalo_oa PUBLIC platform com)

# The automation object COA and its mouse tracker.
add_library(orvalo_coa STATIC COA.cc COAShow.cc COATracker.cc)
target_include_directories(orvalo_coa PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(orvalo_coa PUBLIC orvalo_oa platform com ErrStuff ui mcast orvalo_slides
  orvalo_cab orvalo_dialogs)
# The tracker hands strokes to the presenter engine, which in turn calls COA.
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/engines.cmake)
  target_link_libraries(orvalo_coa PUBLIC orvalo_engines)
endif()
