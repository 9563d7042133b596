# Random damage to recordings for the reader: a few seconds in the suite, longer runs with
# HALVERN_FUZZ_SECONDS.
halvern_test(media_fuzz_test MediaFuzzTest.cpp VECTORS)
target_link_libraries(media_fuzz_test PRIVATE halvern_media halvern_test_recordings halvern_test_wtv psapi)
