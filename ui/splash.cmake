# The about window and the help viewer, part of the windows library.
target_sources(terralume_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/TWorldSplash.h ${CMAKE_CURRENT_LIST_DIR}/TWorldSplash.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HelpWindow.h ${CMAKE_CURRENT_LIST_DIR}/HelpWindow.cpp)
if(NOT TARGET terralume_assets)
  add_subdirectory(${PROJECT_SOURCE_DIR}/assets ${CMAKE_BINARY_DIR}/assets)
endif()
target_link_libraries(terralume_ui PUBLIC terralume_assets PRIVATE terralume_version)
