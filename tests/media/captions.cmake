# Line-21 captions: the EIA-608 decoder, with no COM.
halvern_test(captions_decoder_test Eia608DecoderTest.cpp)
target_link_libraries(captions_decoder_test PRIVATE halvern_media halvern_test_recordings)
# Line-21 pairs into H.264 video, however its samples are cut.
halvern_test(captions_inserter_test CaptionInserterTest.cpp VECTORS)
target_link_libraries(captions_inserter_test PRIVATE halvern_media halvern_test_recordings)
