# halvern_folder_headers(<target> <PUBLIC|INTERFACE> [DIRECTORY <folder directory>] [ROOT <name>]
#                        [HEADERS <glob>...] [EXCLUDE <regex>])
# Makes a folder's headers includable under their folder prefix ("framework/Dialog.h") by whoever
# links <target>, and by nobody else. Each folder gets an include root of its own in the build
# tree, holding one forwarding header per header of the folder: the source tree itself is never an
# include directory, so a folder that does not link a library cannot reach its headers. HEADERS
# (globs; all the folder's headers by default), EXCLUDE and ROOT (the folder's name by default)
# give part of a folder a root of its own, so that its subfolders can be kept apart.
function(halvern_folder_headers target scope)
    cmake_parse_arguments(PARSE_ARGV 2 ARG "" "DIRECTORY;ROOT;EXCLUDE" "HEADERS")
    set(directory ${CMAKE_CURRENT_SOURCE_DIR})
    if(ARG_DIRECTORY)
        set(directory ${ARG_DIRECTORY})
    endif()
    get_filename_component(folder ${directory} NAME)
    set(root ${CMAKE_BINARY_DIR}/include/${folder})
    if(ARG_ROOT)
        set(root ${CMAKE_BINARY_DIR}/include/${ARG_ROOT})
    endif()
    if(ARG_HEADERS)
        file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${directory} ${ARG_HEADERS})
    else()
        file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${directory} ${directory}/*.h)
    endif()
    if(ARG_EXCLUDE)
        list(FILTER headers EXCLUDE REGEX ${ARG_EXCLUDE})
    endif()
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
