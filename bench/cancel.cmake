# How long a cancel and a stop take to end a running conversion (bench/cancel.sh).
if(TARGET halvern_standins)
    add_executable(cancel_bench ${CMAKE_CURRENT_LIST_DIR}/CancelBench.cpp $<TARGET_OBJECTS:halvern_res>)
    target_link_libraries(cancel_bench PRIVATE halvern_autoconv halvern_testsupport halvern_standins)
    # It makes the test vectors itself when no test run made them.
    target_compile_definitions(cancel_bench PRIVATE HALVERN_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
