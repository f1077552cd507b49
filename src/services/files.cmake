target_sources(corvidcore PRIVATE
    binarytext.cpp binarytext.h
    directoryoperations.cpp directoryoperations.h
    directorylisting.cpp directorylisting.h
    fileoperations.cpp fileoperations.h
    mimetable.cpp mimetable.h
)
