# NorvikMSRSO.dll: the COM in-process server around norvik_so_core. Its type
# library is compiled with widl and embedded as resource 1 of type TYPELIB.
if(WIN32)
  set(NORVIK_COM_DIR ${CMAKE_CURRENT_LIST_DIR})
  set(NORVIK_COM_GENERATED ${CMAKE_CURRENT_BINARY_DIR}/com_generated)
  file(MAKE_DIRECTORY ${NORVIK_COM_GENERATED})
  set(NORVIK_IDL ${NORVIK_COM_DIR}/NorvikMSRSO.idl)

  # widl writes one output per call.
  add_custom_command(OUTPUT ${NORVIK_COM_GENERATED}/NorvikMSRSO_h.h
    COMMAND ${NORVIK_WIDL_COMMAND} -h -o ${NORVIK_COM_GENERATED}/NorvikMSRSO_h.h ${NORVIK_IDL}
    DEPENDS ${NORVIK_IDL} VERBATIM)
  add_custom_command(OUTPUT ${NORVIK_COM_GENERATED}/NorvikMSRSO_i.c
    COMMAND ${NORVIK_WIDL_COMMAND} -u -o ${NORVIK_COM_GENERATED}/NorvikMSRSO_i.c ${NORVIK_IDL}
    DEPENDS ${NORVIK_IDL} VERBATIM)
  add_custom_command(OUTPUT ${NORVIK_COM_GENERATED}/NorvikMSRSO.tlb
    COMMAND ${NORVIK_WIDL_COMMAND} -L${NORVIK_WIDL_TYPELIBS} -t
            -o ${NORVIK_COM_GENERATED}/NorvikMSRSO.tlb ${NORVIK_IDL}
    DEPENDS ${NORVIK_IDL} VERBATIM)

  # The interface declarations and identifiers, for the server and its clients.
  add_library(norvik_msrso_idl STATIC
    ${NORVIK_COM_GENERATED}/NorvikMSRSO_i.c ${NORVIK_COM_GENERATED}/NorvikMSRSO_h.h)
  target_include_directories(norvik_msrso_idl PUBLIC ${NORVIK_COM_GENERATED})

  # The boundary conversions and the control object adapter, also unit-tested alone.
  add_library(norvik_com_adapters STATIC
    ${NORVIK_COM_DIR}/AnsiText.cpp ${NORVIK_COM_DIR}/ComControlObject.cpp)
  target_include_directories(norvik_com_adapters PUBLIC ${NORVIK_COM_DIR}/.. ${PROJECT_SOURCE_DIR})
  target_link_libraries(norvik_com_adapters PUBLIC oleaut32)

  add_library(NorvikMSRSO SHARED
    ${NORVIK_COM_DIR}/ClassFactory.cpp
    ${NORVIK_COM_DIR}/ConnectionPoint.cpp
    ${NORVIK_COM_DIR}/DllEntry.cpp
    ${NORVIK_COM_DIR}/NorvikMSRSOImpl.cpp
    ${NORVIK_COM_DIR}/NorvikMSRSOModule.cpp
    ${NORVIK_COM_DIR}/Registration.cpp
    ${NORVIK_COM_DIR}/NorvikMSRSO.rc
    ${NORVIK_COM_DIR}/NorvikMSRSO.def)
  set_source_files_properties(${NORVIK_COM_DIR}/NorvikMSRSO.rc PROPERTIES
    OBJECT_DEPENDS ${NORVIK_COM_GENERATED}/NorvikMSRSO.tlb)
  target_include_directories(NorvikMSRSO PRIVATE
    ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR} ${NORVIK_COM_GENERATED})
  target_link_libraries(NorvikMSRSO PRIVATE
    norvik_com_adapters norvik_msrso_idl norvik_so_core Vorlex ole32 oleaut32 uuid advapi32)
  set_target_properties(NorvikMSRSO PROPERTIES PREFIX "" OUTPUT_NAME NorvikMSRSO)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(NorvikMSRSO PRIVATE -Wl,--enable-stdcall-fixup)
  endif()

  # The install scripts and the device-key template go beside the DLL they
  # register; each script copy is stamped with that DLL's bitness.
  math(EXPR NORVIK_DLL_BITS "${CMAKE_SIZEOF_VOID_P} * 8")
  foreach(name install.cmd uninstall.cmd)
    configure_file(${PROJECT_SOURCE_DIR}/install/${name} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${name}
      @ONLY NEWLINE_STYLE CRLF)
  endforeach()
  set(copy ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/NorvikMSR.reg)
  add_custom_command(OUTPUT ${copy}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/install/NorvikMSR.reg ${copy}
    DEPENDS ${PROJECT_SOURCE_DIR}/install/NorvikMSR.reg VERBATIM)
  add_custom_target(norvik_install_scripts DEPENDS ${copy})
  add_dependencies(NorvikMSRSO norvik_install_scripts)
endif()
