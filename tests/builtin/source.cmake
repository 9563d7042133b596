# The recording source in Wine's graph, reading recordings the test-side writer makes.
halvern_test(builtin_source_test RecordingSourceTest.cpp VECTORS)
target_link_libraries(builtin_source_test PRIVATE halvern_builtin halvern_test_recordings)
