# The program stream multiplexer in Wine's Filter Graph Manager, fed by a test source that plays
# ffmpeg-made elementary streams, written by the built-in file writer, checked with ffprobe/ffmpeg.
halvern_test(program_stream_mux_test ProgramStreamMuxTest.cpp ElementaryStreamSource.cpp NOCORE VECTORS)
target_link_libraries(program_stream_mux_test PRIVATE halvern_builtin)
