# The progress, master-receive and waiting dialogs.
add_library(orvalo_dialogs STATIC
  DialogResources.cc ProgressDialog.cc MasterRecvDialog.cc WaitDialog.cc)
target_include_directories(orvalo_dialogs PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(orvalo_dialogs PUBLIC platform ErrStuff ui orvalo_bridge orvalo_slides)
