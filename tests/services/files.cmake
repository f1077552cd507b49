corvid_add_test(tst_directorylisting tst_directorylisting.cpp)
corvid_add_test(tst_mimetable tst_mimetable.cpp)

# Performs one write in a child process whose file size the tests limit.
add_executable(corvid_writehelper writehelper.cpp)
target_link_libraries(corvid_writehelper PRIVATE corvidcore corvid_options)
set_target_properties(corvid_writehelper PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CORVID_TEST_BIN})

corvid_add_test(tst_fileoperations tst_fileoperations.cpp writeinchild.h)
add_dependencies(tst_fileoperations corvid_writehelper)
target_compile_definitions(tst_fileoperations PRIVATE
    CORVID_WRITE_HELPER="$<TARGET_FILE:corvid_writehelper>")

corvid_add_test(tst_directoryoperations tst_directoryoperations.cpp)
