corvid_add_test(tst_zipreader tst_zipreader.cpp ziptestsupport.h)
target_link_libraries(tst_zipreader PRIVATE ZLIB::ZLIB)
corvid_add_test(tst_zipwriter tst_zipwriter.cpp ziptestsupport.h)
target_link_libraries(tst_zipwriter PRIVATE ZLIB::ZLIB)
