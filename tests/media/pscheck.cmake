# The tests' own program stream checker, on streams made here with the multiplexer's header writers.
halvern_test(program_stream_check_test ProgramStreamCheckTest.cpp)
target_link_libraries(program_stream_check_test PRIVATE halvern_media)
# The tests' own transport stream checker, on the multiplexer's stream of the SD vectors with faults put in.
halvern_test(transport_stream_check_test TransportStreamCheckTest.cpp VECTORS)
target_link_libraries(transport_stream_check_test PRIVATE halvern_media)
