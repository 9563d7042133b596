# The program stream multiplexer and the file writer in Wine's Filter Graph Manager, fed by a test
# source that plays ffmpeg-made elementary streams, checked with ffprobe/ffmpeg.
halvern_test(program_stream_mux_test ProgramStreamMuxTest.cpp VECTORS)
target_link_libraries(program_stream_mux_test PRIVATE halvern_builtin halvern_standins halvern_test_recordings halvern_test_source)
