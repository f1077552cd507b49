target_sources(corvidcore PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/zipdestination.cpp ${CMAKE_CURRENT_LIST_DIR}/zipdestination_p.h
    ${CMAKE_CURRENT_LIST_DIR}/zipformat_p.h
    ${CMAKE_CURRENT_LIST_DIR}/zipreader.cpp ${CMAKE_CURRENT_LIST_DIR}/zipreader.h
    ${CMAKE_CURRENT_LIST_DIR}/zipreader_p.h
    ${CMAKE_CURRENT_LIST_DIR}/zipwriter.cpp ${CMAKE_CURRENT_LIST_DIR}/zipwriter.h
    ${CMAKE_CURRENT_LIST_DIR}/zipwriter_p.h
)
target_sources(corvidcore PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/zipoperations.cpp ${CMAKE_CURRENT_LIST_DIR}/zipoperations.h
)
