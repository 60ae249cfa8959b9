# Portable logic of the card input path and the statistics report: text
# helpers, track parsing into the data properties, the statistics document.
target_sources(norvik_so_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/TextFields.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TrackParser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../framework/Statistics.cpp)
