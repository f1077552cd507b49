target_sources(corvidcore PRIVATE
    directorylisting.cpp directorylisting.h
)
