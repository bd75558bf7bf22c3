# The error-reporting helpers: message boxes through the ui observer.
add_library(ErrReport STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ErrReport.cc ${CMAKE_CURRENT_LIST_DIR}/ErrorToString.cc)
target_include_directories(ErrReport PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(ErrReport PUBLIC ErrStuff ui platform)
