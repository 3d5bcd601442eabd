# Each src/ folder is one library whose headers are included as "<folder>/<Name>.h". A library
# sees only its own folder and those of the libraries it links, never the whole src/: the
# include root it publishes holds a single link to its own folder, so a lower layer that
# includes an upper layer's header fails to compile instead of quietly depending on it.
function(qlm_library_headers target folder)
    set(root "${PROJECT_BINARY_DIR}/include-roots/${target}")
    file(MAKE_DIRECTORY "${root}")
    file(CREATE_LINK "${PROJECT_SOURCE_DIR}/src/${folder}" "${root}/${folder}" SYMBOLIC)
    target_include_directories(${target} PUBLIC "${root}")
endfunction()
