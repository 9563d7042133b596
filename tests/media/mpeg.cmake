# Program stream writing: layout, parsers and the multiplexer core, with no COM.
halvern_test(mpeg_layout_test MpegLayoutTest.cpp)
target_link_libraries(mpeg_layout_test PRIVATE halvern_media)

halvern_test(mpeg_multiplexer_test ByteQueueTest.cpp MpegMultiplexerTest.cpp VECTORS)
target_link_libraries(mpeg_multiplexer_test PRIVATE halvern_media halvern_test_recordings)

halvern_test(mpeg_timing_test MpegTimingTest.cpp VECTORS)
target_link_libraries(mpeg_timing_test PRIVATE halvern_media)

# The video-header parser against what ffprobe reads from each video vector.
halvern_test(mpeg_video_headers_test VideoHeadersTest.cpp VECTORS)
target_link_libraries(mpeg_video_headers_test PRIVATE halvern_media halvern_test_recordings)
