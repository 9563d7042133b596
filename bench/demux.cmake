# Reading speed of the ASF reader alone (bench/demux.sh runs it beside ffmpeg's demux); it also
# makes the media-centre recording it reads, with the test-side writer.
add_executable(demux_bench ${CMAKE_CURRENT_LIST_DIR}/DemuxBench.cpp)
target_link_libraries(demux_bench PRIVATE halvern_media halvern_test_recordings)
