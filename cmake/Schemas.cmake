# The FlatBuffers schemas are compiled at build time; nothing generated is committed.
set(QUORVANE_GENERATED_DIR ${CMAKE_CURRENT_BINARY_DIR}/generated)
file(GLOB QUORVANE_SCHEMAS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/formats/*.fbs)
set(QUORVANE_GENERATED_HEADERS "")
foreach(schema ${QUORVANE_SCHEMAS})
  get_filename_component(name ${schema} NAME_WE)
  set(header ${QUORVANE_GENERATED_DIR}/${name}_generated.h)
  add_custom_command(
    OUTPUT ${header}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUORVANE_GENERATED_DIR}
    # The fields keep the camelCase names of the wire format; flatc warns about every name that is
    # not snake_case, and its only switch for that check is --no-warnings (errors still stop it).
    COMMAND ${FLATC} --cpp --scoped-enums --no-warnings -o ${QUORVANE_GENERATED_DIR} ${schema}
    DEPENDS ${schema}
    COMMENT "flatc ${name}.fbs")
  list(APPEND QUORVANE_GENERATED_HEADERS ${header})
endforeach()
add_custom_target(quorvane_schemas DEPENDS ${QUORVANE_GENERATED_HEADERS})
