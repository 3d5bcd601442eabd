# Read by cpack before it packs. A package's files live below /usr and its system-wide defaults
# in /etc/xdg; a tree configured for another prefix would put the defaults where nothing reads
# them, so it is refused instead of packed.
if(NOT CPACK_QUILLMERE_CONFIGURED_PREFIX STREQUAL "/usr")
    message(FATAL_ERROR "The package is made from a tree configured with -DCMAKE_INSTALL_PREFIX=/usr "
                        "(this one has ${CPACK_QUILLMERE_CONFIGURED_PREFIX}); scripts/package does that.")
endif()
