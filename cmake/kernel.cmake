# libzok_kernel.so from the objects of every part (zok_add_kernel_part), exporting exactly the
# names of the registered export lists. zok_kernel_parts links all parts into a program.
get_property(kernel_lists GLOBAL PROPERTY ZOK_KERNEL_EXPORT_LISTS)
zok_export_files(zok_kernel ${kernel_lists})
set(ZOK_KERNEL_EXPORTS ${zok_kernel_EXPORTS})

get_property(kernel_parts GLOBAL PROPERTY ZOK_KERNEL_PARTS)
add_library(zok_kernel SHARED)
foreach(part IN LISTS kernel_parts)
  target_sources(zok_kernel PRIVATE $<TARGET_OBJECTS:${part}>)
endforeach()
zok_bundle(zok_kernel_parts ${kernel_parts})
target_include_directories(zok_kernel PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                                             $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
# Callers of the kernel library use the core library's services (threading, allocation) too.
target_link_libraries(zok_kernel PUBLIC zok_core PRIVATE Threads::Threads)
# The library's own calls bind to its own definitions; imports from zok_core stay interposable.
# Exported data (kernel tables, registry rows) is not bound locally: a program that links the
# library and reads a table holds a copy of it, which the library must fill itself.
target_link_options(zok_kernel PRIVATE "LINKER:--version-script=${zok_kernel_MAP}" "LINKER:--no-undefined"
                    "LINKER:-Bsymbolic-functions")
set_target_properties(zok_kernel PROPERTIES LINK_DEPENDS ${zok_kernel_MAP} VERSION ${PROJECT_VERSION}
                                            SOVERSION 0 EXPORT_NAME kernel)
