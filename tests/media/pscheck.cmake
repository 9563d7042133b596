# The tests' own program stream checker, on streams made here with the multiplexer's header writers.
halvern_test(program_stream_check_test ProgramStreamCheckTest.cpp)
target_link_libraries(program_stream_check_test PRIVATE halvern_media)
