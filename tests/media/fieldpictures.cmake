# The generator of field-picture and pulldown streams, checked by ffmpeg and ffprobe.
halvern_test(field_picture_writer_test FieldPictureWriterTest.cpp)
target_link_libraries(field_picture_writer_test PRIVATE halvern_test_recordings)
