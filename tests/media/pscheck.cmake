# The tests' own program stream checker, on streams made by hand.
halvern_test(program_stream_check_test ProgramStreamCheckTest.cpp)
