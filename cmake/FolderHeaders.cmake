# halvern_folder_headers(<target> <PUBLIC|INTERFACE> [<folder directory>])
# Makes a folder's headers includable under their folder prefix ("framework/Dialog.h") by whoever
# links <target>, and by nobody else. Each folder gets an include root of its own in the build
# tree, holding one forwarding header per header of the folder: the source tree itself is never an
# include directory, so a folder that does not link a library cannot reach its headers.
function(halvern_folder_headers target scope)
    set(directory ${CMAKE_CURRENT_SOURCE_DIR})
    if(ARGC GREATER 2)
        set(directory ${ARGV2})
    endif()
    get_filename_component(folder ${directory} NAME)
    set(root ${CMAKE_BINARY_DIR}/include/${folder})
    file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${directory} ${directory}/*.h)
    set(wanted)
    foreach(header ${headers})
        set(forward ${root}/${folder}/${header})
        list(APPEND wanted ${forward})
        # Written only when its text changes, so a new configure rebuilds nothing.
        file(CONFIGURE OUTPUT ${forward} CONTENT "#include \"${directory}/${header}\"\n" @ONLY)
    endforeach()
    # A header moved or removed must not stay reachable through a forward left behind.
    file(GLOB_RECURSE present ${root}/*)
    foreach(file ${present})
        if(NOT file IN_LIST wanted)
            file(REMOVE ${file})
        endif()
    endforeach()
    target_include_directories(${target} ${scope} ${root})
endfunction()
