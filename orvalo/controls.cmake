# The live command strings of the presenter control.
add_library(orvalo_command STATIC ${CMAKE_CURRENT_LIST_DIR}/orvaloCommand.cc)
target_include_directories(orvalo_command PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(orvalo_command PUBLIC ErrStuff platform)

# The two controls over the engines and the automation object, and the add-in
# library orvalo.so that serves them. The engines and the automation object
# come from engines.cmake and coa.cmake.
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/engines.cmake AND EXISTS ${CMAKE_CURRENT_LIST_DIR}/coa.cmake)
  add_library(orvalo_controls STATIC
    ${CMAKE_CURRENT_LIST_DIR}/orvaloControl.cc
    ${CMAKE_CURRENT_LIST_DIR}/orvaloRcv.cc
    ${CMAKE_CURRENT_LIST_DIR}/orvaloSnd.cc)
  target_include_directories(orvalo_controls PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(orvalo_controls PUBLIC
    orvalo_command orvalo_engines orvalo_coa orvalo_bridge orvalo_dialogs orvalo_slides
    orvalo_cab com ui ErrStuff platform)

  # No "lib" prefix, the runtime and every static library inside it kept out
  # of the dynamic symbol table, so that only the four server exports are
  # seen: none of its types and functions can bind to another module's (the
  # file carousel's library has types of the same names) or to the host's.
  add_library(orvalo SHARED ${CMAKE_CURRENT_LIST_DIR}/orvaloModule.cc)
  orvalo_com_server(orvalo)
  target_link_libraries(orvalo PRIVATE orvalo_controls)
  target_link_options(orvalo PRIVATE -Wl,--exclude-libs,ALL)
  if(NOT ORVALO_SANITIZE)
    target_link_options(orvalo PRIVATE -Wl,--no-undefined)
  endif()
endif()

# The macro add-ins orvaloPres.ppa (presenter) and orvaloView.ppa (viewer):
# plug-in modules of the presentation application that drive the controls
# late-bound. Each keeps its own copy of the runtime and shows only its
# HostAddinCreate export.
add_library(orvalo_addin_base STATIC
  ${CMAKE_CURRENT_LIST_DIR}/addins/AddinSettings.cc
  ${CMAKE_CURRENT_LIST_DIR}/addins/LateBoundControl.cc)
target_include_directories(orvalo_addin_base PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(orvalo_addin_base PUBLIC com registry ui platform)
set_target_properties(orvalo_addin_base PROPERTIES
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
foreach(addin IN ITEMS orvaloPres:PresenterAddin orvaloView:ViewerAddin)
  string(REPLACE ":" ";" parts ${addin})
  list(GET parts 0 name)
  list(GET parts 1 source)
  add_library(${name} MODULE ${CMAKE_CURRENT_LIST_DIR}/addins/${source}.cc)
  target_link_libraries(${name} PRIVATE orvalo_addin_base)
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".ppa"
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_link_options(${name} PRIVATE -Wl,--exclude-libs,ALL)
  if(NOT ORVALO_SANITIZE)
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
endforeach()
