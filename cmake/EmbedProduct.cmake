# kestrix_embed_product(<library> <product target> <file name>): carries the
# product of another target of this build inside <library> as the Qt resource
# :/kestrix/<file name>, without its debugging information.
function(kestrix_embed_product library product name)
  set(file ${CMAKE_BINARY_DIR}/embedded/${name})
  add_custom_command(
    OUTPUT ${file}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/embedded
    COMMAND ${CMAKE_OBJCOPY} --strip-debug $<TARGET_FILE:${product}> ${file}
    DEPENDS ${product}
    COMMENT "Preparing ${name}, which the program carries")
  add_custom_target(kestrix_embedded_${product} DEPENDS ${file})
  set_source_files_properties(${file} PROPERTIES GENERATED TRUE QT_RESOURCE_ALIAS ${name})
  qt_add_resources(${library} kestrix_embedded_${product}_file
    PREFIX /kestrix
    BASE ${CMAKE_BINARY_DIR}/embedded
    FILES ${file})
  add_dependencies(${library} kestrix_embedded_${product})
endfunction()
