# The tests' own program stream checker, on streams made here with the multiplexer's header writers.
# The checker reads audio frame headers with the media library's parsers, pinned by the layout test.
target_link_libraries(halvern_pscheck PUBLIC halvern_media)
halvern_test(program_stream_check_test ProgramStreamCheckTest.cpp)
