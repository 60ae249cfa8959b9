# The OPOS logic of the service object: life cycle, registry configuration,
# claims, card processing, event delivery, the property table and commands.
target_sources(norvik_so_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ServiceObjectCore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RegistryConfig.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ClaimTable.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TraceHooks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../card_input/CardProcessing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../card_input/EventDelivery.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../properties/PropertyTable.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../properties/Commands.cpp)
find_package(Threads REQUIRED)
target_link_libraries(norvik_so_core PUBLIC Threads::Threads)
