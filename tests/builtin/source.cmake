# The recording source, and the sample-recording renderer other filter tests may use too.
add_library(halvern_sample_recorder STATIC ${CMAKE_CURRENT_LIST_DIR}/SampleRecorder.cpp)
target_link_libraries(halvern_sample_recorder PUBLIC halvern_filters)

halvern_test(builtin_source_test RecordingSourceTest.cpp NOCORE VECTORS)
target_link_libraries(builtin_source_test PRIVATE halvern_builtin halvern_sample_recorder halvern_test_recordings)
