# Export lists: one symbol per line, '#' comments. Each subsystem registers its list with
# zok_kernel_exports(); the kernel library's version script and the export test are made from the
# concatenation, so the lists the build knows are the only source of what a library exports.

function(zok_kernel_exports list_file)
  set_property(GLOBAL APPEND PROPERTY ZOK_KERNEL_EXPORT_LISTS "${list_file}")
endfunction()

# Reads export lists into one list of names (comments and blank lines dropped).
function(zok_read_exports out_var)
  set(names "")
  foreach(list_file IN LISTS ARGN)
    file(STRINGS "${list_file}" lines)
    foreach(line IN LISTS lines)
      string(STRIP "${line}" line)
      if(NOT line STREQUAL "" AND NOT line MATCHES "^#")
        list(APPEND names "${line}")
      endif()
    endforeach()
    set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${list_file}")
  endforeach()
  set(${out_var} "${names}" PARENT_SCOPE)
endfunction()

# Writes `<name>.exports` (the merged list) and `<name>.map` (its version script) into the build
# tree; sets <name>_MAP and <name>_EXPORTS in the caller's scope.
function(zok_export_files name)
  zok_read_exports(names ${ARGN})
  list(JOIN names "\n" joined)
  file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/${name}.exports" CONTENT "${joined}\n" @ONLY)
  list(JOIN names ";\n    " body)
  file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/${name}.map"
       CONTENT "{\n  global:\n    ${body};\n  local: *;\n};\n" @ONLY)
  set(${name}_MAP "${PROJECT_BINARY_DIR}/${name}.map" PARENT_SCOPE)
  set(${name}_EXPORTS "${PROJECT_BINARY_DIR}/${name}.exports" PARENT_SCOPE)
endfunction()

# zok_add_kernel_part(<target> <sources>...): an OBJECT library that becomes part of
# libzok_kernel.so. Each subsystem is its own part, so its tests build without the others.
function(zok_add_kernel_part target)
  add_library(${target} OBJECT ${ARGN})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
  target_compile_definitions(${target} PUBLIC ZOK_BUILDING_KERNEL)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  # The kernels' block loops run at their measured speed only with the full optimiser (complete
  # unrolling of the per-vector loops, the vectoriser's cost model): at -O2 some run up to six times
  # slower. The library built with debug information is the one users build, so it gets -O3 too.
  target_compile_options(${target} PRIVATE $<$<CONFIG:RelWithDebInfo>:-O3>)
  target_link_libraries(${target} PUBLIC zok_core Threads::Threads)
  set_property(GLOBAL APPEND PROPERTY ZOK_KERNEL_PARTS ${target})
endfunction()

# zok_bundle(<name> <object libraries>...): an INTERFACE target that brings the objects of all the
# given OBJECT libraries (objects do not pass through a linked OBJECT library on their own).
function(zok_bundle name)
  add_library(${name} INTERFACE)
  target_link_libraries(${name} INTERFACE ${ARGN})
  foreach(part IN LISTS ARGN)
    target_sources(${name} INTERFACE $<TARGET_OBJECTS:${part}>)
  endforeach()
endfunction()
