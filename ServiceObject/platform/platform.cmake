# Platform adapters of the service object: the in-memory registry and claim
# table (native tests, and available to every build), plus the defaults that
# the core uses when its environment names none.
target_sources(norvik_so_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/InMemoryRegistryView.cpp
  ${CMAKE_CURRENT_LIST_DIR}/InMemoryClaimMemory.cpp)
if(WIN32)
  target_sources(norvik_so_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/win32/Win32RegistryView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/Win32ClaimMemory.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/Win32DefaultPlatform.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/Win32TracePlatform.cpp)
  target_link_libraries(norvik_so_core PUBLIC advapi32)
else()
  target_sources(norvik_so_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/memory/NativeDefaultPlatform.cpp
    ${CMAKE_CURRENT_LIST_DIR}/memory/NativeTracePlatform.cpp)
endif()
