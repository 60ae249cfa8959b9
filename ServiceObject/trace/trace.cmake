# The diagnostic trace: the bounded line buffer and its writer, and the
# summaries that keep card data out of it. Platform files are in platform/.
target_sources(norvik_so_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Trace.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TraceMasking.cpp)
