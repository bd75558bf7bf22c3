# The presenter and audience engines. They call the automation object
# (g_COA) but do not link it: programs link orvalo_coa, the engines' tests a
# recording stand-in.
add_library(orvalo_engines STATIC
  McastAddress.cc
  PresenterChannel.cc
  Presenter.cc
  AudienceMember.cc
  AudienceMaster.cc)
target_include_directories(orvalo_engines PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(orvalo_engines PUBLIC
  platform ErrStuff ui com mcast korin_sender korin_receiver
  orvalo_slides orvalo_bridge orvalo_dialogs orvalo_cab orvalo_oa)
