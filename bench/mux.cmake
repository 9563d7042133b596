# Multiplexing + writing speed (run by bench/mux.sh).
if(TARGET halvern_builtin)
    add_executable(mux_bench MuxBench.cpp)
    target_link_libraries(mux_bench PRIVATE halvern_builtin psapi)
endif()
