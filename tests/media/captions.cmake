# Line-21 captions: the EIA-608 decoder, with no COM.
halvern_test(captions_decoder_test Eia608DecoderTest.cpp)
target_link_libraries(captions_decoder_test PRIVATE halvern_media halvern_test_recordings)
