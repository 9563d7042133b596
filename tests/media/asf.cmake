# The ASF reader, and the test-side writer of media-centre recordings that other tests use too.
# It splits the elementary streams with ffprobe, not with the format code's own parsers.
add_library(halvern_test_recordings STATIC)
foreach(part RecordingWriter StreamProbe AsfPacketizer AsfHeaderWriter FieldPictureWriter CaptionWriter)
    target_sources(halvern_test_recordings PRIVATE ${CMAKE_CURRENT_LIST_DIR}/${part}.cpp)
endforeach()
target_link_libraries(halvern_test_recordings PUBLIC halvern_testsupport)

halvern_test(asf_reader_test AsfReaderTest.cpp FormatProbeTest.cpp VECTORS)
target_link_libraries(asf_reader_test PRIVATE halvern_media halvern_test_recordings)
# The WTV reader on ffmpeg's WTV files, and the test side's own edits of them.
add_library(halvern_test_wtv STATIC ${CMAKE_CURRENT_LIST_DIR}/WtvEdits.cpp)
halvern_test(wtv_reader_test WtvReaderTest.cpp VECTORS)
target_link_libraries(wtv_reader_test PRIVATE halvern_media halvern_test_wtv)
