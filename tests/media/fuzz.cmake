# Random damage to recordings for the readers: a few seconds in the suite.
halvern_test(media_fuzz_test MediaFuzzTest.cpp VECTORS)
target_link_libraries(media_fuzz_test PRIVATE halvern_media halvern_test_recordings halvern_test_wtv psapi)
