# reg: the Windows reg command over the Linux registry, in the build's bin folder.
file(GLOB QV_REG_TOOL_SOURCES CONFIGURE_DEPENDS ${QV_ROOT}/tools/reg/*.cpp)
add_executable(reg ${QV_REG_TOOL_SOURCES} $<TARGET_OBJECTS:qv_base>)
target_include_directories(reg PRIVATE ${QV_INCLUDE_DIRS} ${QV_GENERATED})
target_include_directories(reg SYSTEM PRIVATE ${Boost_INCLUDE_DIRS})
target_compile_options(reg PRIVATE ${QV_WARNINGS})
target_link_libraries(reg PRIVATE ${QV_LINUX_LIBS})
set_target_properties(reg PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
qv_harden_binary(reg)
