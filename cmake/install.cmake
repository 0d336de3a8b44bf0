# Installation: the shared library and its headers, the simulator library and its
# headers, the two programs, a CMake package (kinetra::transport, kinetra::sim)
# and pkg-config files. The install is relocatable: `cmake --install --prefix`
# may put it anywhere.
include(CMakePackageConfigHelpers)

set(KINETRA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/kinetra_transport)

install(TARGETS kinetra_transport EXPORT kinetra_transport_targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/kinetra DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")

if(TARGET kinetra_sim)
  install(TARGETS kinetra_sim EXPORT kinetra_transport_targets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/sim/include/kinetra_sim DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    FILES_MATCHING PATTERN "*.h" PATTERN "payload_values.h" EXCLUDE PATTERN "node_answer.h" EXCLUDE)
endif()
foreach(program kinetra kinetra-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

install(EXPORT kinetra_transport_targets NAMESPACE kinetra::
  FILE kinetra_transport-targets.cmake DESTINATION ${KINETRA_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kinetra_transport-config.cmake.in
  ${PROJECT_BINARY_DIR}/kinetra_transport-config.cmake INSTALL_DESTINATION ${KINETRA_CMAKE_DIR})
# 0.x releases break their interface between minor versions, as the SONAME says.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kinetra_transport-config-version.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kinetra_transport-config.cmake
  ${PROJECT_BINARY_DIR}/kinetra_transport-config-version.cmake DESTINATION ${KINETRA_CMAKE_DIR})

# The .pc files find their prefix from where they lie, as the CMake package does.
file(RELATIVE_PATH KINETRA_PC_TO_PREFIX /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
string(REGEX REPLACE "/$" "" KINETRA_PC_TO_PREFIX "${KINETRA_PC_TO_PREFIX}")
foreach(pc kinetra_transport kinetra_sim)
  if(pc STREQUAL kinetra_transport OR TARGET kinetra_sim)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  endif()
endforeach()
