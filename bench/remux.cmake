# A whole conversion through ConvertFile and the shipped graph of the built-in filters, beside
# ffmpeg's remux of the same recording (run by bench/remux.sh); it also makes that recording.
if(TARGET halvern_test_recordings)
    add_executable(remux_bench ${CMAKE_CURRENT_LIST_DIR}/RemuxBench.cpp $<TARGET_OBJECTS:halvern_res>)
    target_link_libraries(remux_bench PRIVATE halvern_autoconv halvern_testsupport halvern_test_recordings psapi)
    # The manifest names HalvernFilters.dll; the shipped graph is read from beside the program.
    add_dependencies(remux_bench HalvernFilters halvern_builtin_graph)
endif()
